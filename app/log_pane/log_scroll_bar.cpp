#include "app/log_pane/log_scroll_bar.h"

#include <QSignalBlocker>
#include <QStyleOptionSlider>

namespace log_pane {

LogScrollBar::LogScrollBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) {}

LogScrollBar::Look LogScrollBar::CurrentLook() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            option.state, option.activeSubControls, option.sliderValue == option.minimum,
            option.sliderValue == option.maximum};
}

void LogScrollBar::Sync(int maximum, int pageStep, int value) {
    syncing_ = true;
    // The pane sets its own rows from these numbers: nobody need hear of each step.
    const QSignalBlocker quiet(this);
    setRange(0, maximum);
    setPageStep(pageStep);
    setSingleStep(1);
    setValue(value);
    syncing_ = false;
    if (CurrentLook() != painted_)
        update();
}

void LogScrollBar::sliderChange(SliderChange change) {
    if (change != SliderOrientationChange && (syncing_ || CurrentLook() == painted_))
        return;
    QScrollBar::sliderChange(change);
}

void LogScrollBar::paintEvent(QPaintEvent* event) {
    painted_ = CurrentLook();
    QScrollBar::paintEvent(event);
}

} // namespace log_pane

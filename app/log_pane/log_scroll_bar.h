// The log pane's scroll bar. Every new line moves its range and value, but once the log is longer
// than a few screens the slider keeps its size and its pixel position for many lines on end: the bar
// then repaints only when what it shows changes, not with every line.
#pragma once

#include <QRect>
#include <QScrollBar>
#include <QStyle>

namespace log_pane {

class LogScrollBar : public QScrollBar {
    Q_OBJECT

public:
    explicit LogScrollBar(QWidget* parent = nullptr);

    // Sets the range 0..maximum, the page and the value together. Set one by one, the bar passes
    // through looks it never shows (a longer range before the value follows it moves the slider up a
    // step and back): it repaints only if the look it ends with differs from the one painted.
    void Sync(int maximum, int pageStep, int value);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // Everything the style paints the bar from, less the numbers themselves.
    struct Look {
        QRect slider;
        QStyle::State state;
        QStyle::SubControls active;
        bool atMinimum;
        bool atMaximum;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook() const;

    Look painted_{};
    bool syncing_ = false;
};

} // namespace log_pane

#include "app/log_pane/find_bar.h"

#include <QKeyEvent>

namespace log_pane {

FindBar::FindBar(QWidget* parent) : QLineEdit(parent) {
    setPlaceholderText(tr("検索"));
    setClearButtonEnabled(true);
    connect(this, &QLineEdit::textEdited, this, [this] { ShowFound(true); });
}

void FindBar::ShowFound(bool found) {
    QPalette shade = parentWidget()->palette();
    if (!found)
        shade.setColor(QPalette::Base, QColor(255, 200, 200));
    setPalette(shade);
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    if (event->matches(QKeySequence::FindPrevious) || (enter && shift))
        emit Previous();
    else if (event->matches(QKeySequence::FindNext) || enter)
        emit Next();
    else if (event->key() == Qt::Key_Escape)
        emit Closed();
    else
        QLineEdit::keyPressEvent(event);
}

} // namespace log_pane

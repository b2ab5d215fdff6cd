// The log pane's find field: opened with Ctrl+F under the pane's rows, inside its frame, so the
// window's layout stays as it is. Enter or F3 asks for the next match, Shift with either for the
// one before, Escape closes it.
#pragma once

#include <QLineEdit>

namespace log_pane {

class FindBar : public QLineEdit {
    Q_OBJECT

public:
    explicit FindBar(QWidget* parent);
    // Tints the field while what it holds is nowhere in the log.
    void ShowFound(bool found);

signals:
    void Next();
    void Previous();
    void Closed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace log_pane

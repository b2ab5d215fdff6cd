// The user guide behind MANUAL (and F1): the manual shipped inside the program,
// in the window's language, in a window of its own. It works installed and
// offline: the text and its pictures are resources of the program.
#pragma once

#include <QWidget>

class QTextBrowser;

class ManualWindow : public QWidget {
    Q_OBJECT

public:
    explicit ManualWindow(QWidget* parent = nullptr);

    // The manual's text as shown.
    QString Text() const;

private:
    QTextBrowser* browser_;
};

// Where the manual of the window's language is kept.
QString ManualResource();

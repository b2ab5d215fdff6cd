#include "app/manual_window.h"

#include "translations/ui_language.h"

#include <QFile>
#include <QTextBrowser>
#include <QVBoxLayout>

QString ManualResource() {
    return translations::InstalledLanguage() == translations::Language::English
               ? QStringLiteral(":/manual/manual_en.md")
               : QStringLiteral(":/manual/manual_ja.md");
}

ManualWindow::ManualWindow(QWidget* parent) : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("ManualWindow"));
    setWindowTitle(tr("マニュアル"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({QStringLiteral(":/manual")});
    QFile file(ManualResource());
    if (file.open(QIODevice::ReadOnly))
        browser_->setMarkdown(QString::fromUtf8(file.readAll()));
    // Wide enough for the window's screenshot in the text.
    resize(940, 820);
}

QString ManualWindow::Text() const {
    return browser_->toPlainText();
}

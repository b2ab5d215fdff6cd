#include "app/manual_window.h"

#include "faces/faces.h"
#include "translations/ui_language.h"

#include <QFile>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

// The manual's code (commands, file lines) in the code face, wherever the platform's fixed-width font
// would fall on the machine.
void SetCodeFace(QTextDocument& document) {
    // Code comes from the markdown in the platform's fixed-width family, "monospace", and code spans
    // are marked fixed-pitch too.
    const auto isCode = [](const QTextCharFormat& format) {
        return format.fontFixedPitch() || format.fontFamilies().toStringList().contains(
                                              QStringLiteral("monospace"), Qt::CaseInsensitive);
    };
    const auto inCodeFace = [](QTextCharFormat format) {
        format.setFontFamilies(faces::CodeFamilies());
        return format;
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        // The block's own format sets its line end's height, so it takes the face as well.
        if (isCode(block.charFormat()))
            cursor.setBlockCharFormat(inCodeFace(block.charFormat()));
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!isCode(fragment.charFormat()))
                continue;
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(inCodeFace(fragment.charFormat()));
        }
    }
}

} // namespace

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
    setFont(faces::Text(font()));
    browser_->setOpenExternalLinks(true);
    browser_->setSearchPaths({QStringLiteral(":/manual")});
    QFile file(ManualResource());
    if (file.open(QIODevice::ReadOnly))
        browser_->setMarkdown(QString::fromUtf8(file.readAll()));
    SetCodeFace(*browser_->document());
    // Wide enough for the window's screenshot in the text.
    resize(940, 820);
}

QString ManualWindow::Text() const {
    return browser_->toPlainText();
}

// Prints what a paste in another program would get from the X primary selection, or with
// "clipboard" from the clipboard: the text their owner offers, as UTF-8.
#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const bool clipboard = argc > 1 && QByteArray(argv[1]) == "clipboard";
    const QByteArray text = QGuiApplication::clipboard()
                                ->text(clipboard ? QClipboard::Clipboard : QClipboard::Selection)
                                .toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return text.isEmpty() ? 1 : 0;
}

#include "app/log_pane/clipboard.h"

#include <QGuiApplication>

namespace log_pane {
namespace {

const QString kPlainText = QStringLiteral("text/plain");

class QtClipboard : public Clipboard {
public:
    void Set(QClipboard::Mode mode, QMimeData* data) override {
        QClipboard* clipboard = QGuiApplication::clipboard();
        // Not every window system has a primary selection; Qt would complain at every selection.
        if (mode == QClipboard::Selection && !clipboard->supportsSelection())
            delete data;
        else
            clipboard->setMimeData(data, mode);
    }
    QString Text(QClipboard::Mode mode) const override { return QGuiApplication::clipboard()->text(mode); }
};

} // namespace

Clipboard& SystemClipboard() {
    static QtClipboard clipboard;
    return clipboard;
}

void LazyText::Fix() const {
    if (!build_)
        return;
    text_ = build_();
    build_ = nullptr;
}

QStringList LazyText::formats() const {
    return {kPlainText};
}

bool LazyText::hasFormat(const QString& mimeType) const {
    return mimeType == kPlainText;
}

QVariant LazyText::retrieveData(const QString& mimeType, QMetaType type) const {
    if (mimeType != kPlainText)
        return QMimeData::retrieveData(mimeType, type);
    Fix();
    return text_;
}

} // namespace log_pane

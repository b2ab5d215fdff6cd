// Where the log pane's copied text goes and its pasted text comes from: the system's clipboard and,
// on X, the primary selection. Tests put their own in its place.
#pragma once

#include <QClipboard>
#include <QMimeData>
#include <QString>

#include <functional>

namespace log_pane {

class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Takes `data`; where the system has no such clipboard, it is dropped.
    virtual void Set(QClipboard::Mode mode, QMimeData* data) = 0;
    virtual QString Text(QClipboard::Mode mode) const = 0;
};

// The application's QClipboard.
Clipboard& SystemClipboard();

// Plain text built only when someone asks for it. The primary selection changes with every selection
// the user makes, and most are never pasted: copying a whole day's log there would cost each time.
class LazyText : public QMimeData {
    Q_OBJECT

public:
    explicit LazyText(std::function<QString()> build) : build_(std::move(build)) {}
    // Builds the text now: what it is built from is about to change.
    void Fix() const;

    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    mutable std::function<QString()> build_;
    mutable QString text_;
};

} // namespace log_pane

#include "tests/soak/sweep_log_oracle.h"

#include "device/unit_protocol.h"
#include "output/log/shift_jis.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <cstring>

namespace soak {

namespace {

// The part of a read the log keeps: the buffer is zero-filled first, so its text
// ends at the first zero byte of what was read.
QByteArrayView LoggedPart(std::string_view bytes) {
    const std::size_t end = std::min(bytes.find('\0'), bytes.size());
    return QByteArrayView(bytes.data(), qsizetype(end));
}

bool HasFrame(std::string_view bytes) {
    device::RxBufferBytes rx{};
    std::memcpy(rx.data(), bytes.data(), std::min<std::size_t>(bytes.size(), device::kRxBufferSize - 1));
    return device::FindMarker(rx).has_value();
}

QByteArray Printable(const QByteArray& bytes) {
    QByteArray shown;
    for (const char c : bytes)
        shown += (c >= 0x20 && c < 0x7F) ? QByteArray(1, c) : "\\x" + QByteArray::number(quint8(c), 16);
    return shown;
}

} // namespace

SweepLogOracle::SweepLogOracle(std::function<QStringList(quint16)> header) : header_(std::move(header)) {}

void SweepLogOracle::Restart() {
    logged_.clear();
}

void SweepLogOracle::Read(quint16 fileIndex, std::string_view bytes) {
    ++reads_;
    if (!HasFrame(bytes))
        ++frameErrors_;
    QByteArray& log = logged_[fileIndex];
    log += LoggedPart(bytes);
    log += "\r\n";
}

QByteArray SweepLogOracle::Expected(quint16 fileIndex) const {
    QByteArray file;
    for (const QString& line : header_(fileIndex))
        file += output::EncodeShiftJis(line) + "\r\n";
    if (const auto it = logged_.find(fileIndex); it != logged_.end())
        file += it->second;
    return file;
}

QStringList SweepLogOracle::CheckSavedBelow(quint16 fileIndex, const QDir& folder, const QString& baseName) {
    QStringList problems;
    while (!logged_.empty() && logged_.begin()->first < fileIndex) {
        const quint16 index = logged_.begin()->first;
        const QString name = baseName + QString::number(index);
        QFile text(folder.filePath(name + QStringLiteral(".txt")));
        if (!text.open(QIODevice::ReadOnly)) {
            problems << name + QStringLiteral(".txt was not saved");
        } else if (const QString difference = FirstDifference(Expected(index), text.readAll());
                   !difference.isEmpty()) {
            problems << name + QStringLiteral(".txt: ") + difference;
        }
        const QImage chart(folder.filePath(name + QStringLiteral(".bmp")));
        if (chart.size() != QSize(609, 403))
            problems << name + QStringLiteral(".bmp is missing or not the 609 x 403 chart");
        ++filesChecked_;
        logged_.erase(logged_.begin());
    }
    return problems;
}

QString FirstDifference(const QByteArray& expected, const QByteArray& actual) {
    if (expected == actual)
        return {};
    const auto [e, a] = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    const qsizetype at = e - expected.begin();
    const qsizetype from = std::max<qsizetype>(0, at - 16);
    return QStringLiteral(
               "%1 bytes expected, %2 found, first difference at byte %3: expected \"%4\", found \"%5\"")
        .arg(expected.size())
        .arg(actual.size())
        .arg(at)
        .arg(QString::fromLatin1(Printable(expected.mid(from, 40))))
        .arg(QString::fromLatin1(Printable(actual.mid(from, 40))));
}

} // namespace soak

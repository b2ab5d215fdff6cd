#include "chart/frame_stamp.h"

#include "chart/chart_picture.h"
#include "chart/chart_text.h"
#include "chart/pixel_lines.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace chart {
namespace {

// Row y of a 32-bit picture. QImage::scanLine() checks for a shared copy on every call; the callers
// detach once through bits() and step through the rows themselves.
QRgb* PictureRow(uchar* bits, qsizetype bytesPerLine, int y) {
    return reinterpret_cast<QRgb*>(bits + bytesPerLine * y);
}

} // namespace

FrameStamp::FrameStamp(int width, int height)
    : colors_(width, height, QImage::Format_RGB32), covered_(std::size_t(width) * std::size_t(height), 0) {
    colors_.setDotsPerMeterX(kDotsPerMeter);
    colors_.setDotsPerMeterY(kDotsPerMeter);
    colors_.fill(Qt::white);
}

void FrameStamp::Cover(int x, int y, QRgb color) {
    if (x < 0 || y < 0 || x >= colors_.width() || y >= colors_.height())
        return;
    reinterpret_cast<QRgb*>(colors_.scanLine(y))[x] = color;
    covered_[std::size_t(y) * std::size_t(colors_.width()) + std::size_t(x)] = 1;
}

void FrameStamp::DrawLine(QPoint from, QPoint to, TColor color, bool dotted) {
    Q_ASSERT(!finished_);
    Q_ASSERT(from.x() == to.x() || from.y() == to.y());
    const QRgb ink = RgbOf(color);
    const QRgb gap = RgbOf(clWhite);
    const int dx = to.x() > from.x() ? 1 : to.x() < from.x() ? -1 : 0;
    const int dy = to.y() > from.y() ? 1 : to.y() < from.y() ? -1 : 0;
    const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
    for (int i = 0; i <= steps; ++i)
        Cover(from.x() + i * dx, from.y() + i * dy, dotted && i % 2 == 1 ? gap : ink);
}

void FrameStamp::DrawText(QPoint topLeft, const QString& text) {
    Q_ASSERT(!finished_);
    QRect box;
    {
        TextBoxPainter painter(colors_);
        box = painter.Draw(topLeft, text);
    }
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            covered_[std::size_t(y) * std::size_t(colors_.width()) + std::size_t(x)] = 1;
}

void FrameStamp::Finish() {
    const int width = colors_.width();
    runs_.clear();
    rowRuns_.assign(1, 0);
    for (int y = 0; y < colors_.height(); ++y) {
        const quint8* covered = &covered_[std::size_t(y) * std::size_t(width)];
        for (int x = 0; x < width;) {
            if (!covered[x]) {
                ++x;
                continue;
            }
            const int first = x;
            while (x < width && covered[x])
                ++x;
            runs_.push_back({first, x - 1});
        }
        rowRuns_.push_back(int(runs_.size()));
    }
    // Column by column: the few rows a column's stamp covers, so that redrawing two columns touches
    // those pixels alone instead of every row of both.
    columnRows_.clear();
    columnStarts_.assign(1, 0);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < colors_.height(); ++y)
            if (covered_[std::size_t(y) * std::size_t(width) + std::size_t(x)])
                columnRows_.push_back(y);
        columnStarts_.push_back(int(columnRows_.size()));
    }
    finished_ = true;
}

void FrameStamp::CopyRow(QRgb* target, int pictureWidth, int y) const {
    const auto* source = reinterpret_cast<const QRgb*>(colors_.constScanLine(y));
    const int lastColumn = pictureWidth - 1;
    for (int i = rowRuns_[y]; i < rowRuns_[y + 1]; ++i) {
        const int first = runs_[std::size_t(i)].first;
        const int last = std::min(runs_[std::size_t(i)].last, lastColumn);
        if (first <= last)
            std::memcpy(target + first, source + first, std::size_t(last - first + 1) * sizeof(QRgb));
    }
}

void FrameStamp::Apply(QImage& picture) const {
    Q_ASSERT(finished_);
    const int rows = std::min(colors_.height(), picture.height());
    uchar* bits = picture.bits();
    for (int y = 0; y < rows; ++y)
        CopyRow(PictureRow(bits, picture.bytesPerLine(), y), picture.width(), y);
}

void FrameStamp::ApplyClipped(QImage& picture, int firstColumn, int lastColumn, int stripBottom) const {
    Q_ASSERT(finished_);
    const int rows = std::min(colors_.height(), picture.height());
    const int stripRows = std::min(stripBottom + 1, rows);
    uchar* bits = picture.bits();
    const qsizetype bytesPerLine = picture.bytesPerLine();
    for (int y = 0; y < stripRows; ++y)
        CopyRow(PictureRow(bits, bytesPerLine, y), picture.width(), y);

    const int width = colors_.width();
    const int first = std::max(firstColumn, 0);
    const int last = std::min({lastColumn, width - 1, picture.width() - 1});
    const uchar* sourceBits = colors_.constBits();
    const qsizetype sourceBytesPerLine = colors_.bytesPerLine();
    for (int x = first; x <= last; ++x) {
        for (int i = columnStarts_[std::size_t(x)]; i < columnStarts_[std::size_t(x) + 1]; ++i) {
            const int y = columnRows_[std::size_t(i)];
            if (y < stripRows || y >= rows)
                continue;
            PictureRow(bits, bytesPerLine, y)[x] =
                reinterpret_cast<const QRgb*>(sourceBits + sourceBytesPerLine * y)[x];
        }
    }
}

} // namespace chart

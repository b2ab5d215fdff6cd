#include "app/log_pane/row_pictures.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace log_pane {
namespace {

// A row's ink may reach into the row above and the row below; it is drawn into the middle of five
// bands, and ink in the outer two would reach rows the pane does not lay it over.
constexpr int kBands = 5;

int DotsPerMeter(int dpi) {
    return int(std::lround(dpi / 0.0254));
}

// Whether line y of the image has no ink; `clear` is a line of it as filled.
bool LineClear(const QImage& image, int y, const QByteArray& clear) {
    return std::memcmp(image.constScanLine(y), clear.constData(), size_t(clear.size())) == 0;
}

} // namespace

std::optional<RowPictures::Ink> RowPictures::Picture(const QString& text, const Setting& setting) {
    if (!(setting == setting_)) {
        pictures_.clear();
        setting_ = setting;
    }
    auto found = std::find_if(pictures_.begin(), pictures_.end(),
                              [&text](const Entry& entry) { return entry.text == text; });
    if (found == pictures_.end()) {
        pictures_.push_back(Entry{text, Draw(text)});
        found = pictures_.end() - 1;
    }
    found->used = true;
    return found->ink;
}

void RowPictures::EndPaint() {
    std::erase_if(pictures_, [](const Entry& entry) { return !entry.used; });
    for (Entry& entry : pictures_)
        entry.used = false;
}

std::optional<RowPictures::Ink> RowPictures::Draw(const QString& text) const {
    const Setting& s = setting_;
    if (s.width <= 0 || s.rowHeight <= 0)
        return std::nullopt;
    QImage bands(s.width, kBands * s.rowHeight, QImage::Format_ARGB32_Premultiplied);
    if (bands.isNull())
        return std::nullopt;
    bands.setDotsPerMeterX(DotsPerMeter(s.dpiX));
    bands.setDotsPerMeterY(DotsPerMeter(s.dpiY));
    bands.fill(Qt::transparent);
    const QByteArray clear(s.width * int(sizeof(QRgb)), '\0');
    const int rowTop = (kBands / 2) * s.rowHeight;
    {
        QPainter painter(&bands);
        painter.setFont(s.font);
        painter.setPen(Qt::black);
        painter.drawText(s.left, rowTop + s.ascent, text);
    }
    int top = 0;
    while (top < bands.height() && LineClear(bands, top, clear))
        ++top;
    if (top == bands.height())
        return Ink{};
    int bottom = bands.height() - 1;
    while (LineClear(bands, bottom, clear))
        --bottom;
    if (top < rowTop - s.rowHeight || bottom >= rowTop + 2 * s.rowHeight)
        return std::nullopt;
    // The ink's right end: the last column with ink on any line.
    std::vector<QRgb> columns(size_t(s.width), 0);
    for (int y = top; y <= bottom; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(bands.constScanLine(y));
        for (int x = 0; x < s.width; ++x)
            columns[size_t(x)] |= line[x];
    }
    int right = s.width;
    while (columns[size_t(right - 1)] == 0)
        --right;
    return Ink{bands.copy(0, top, right, bottom + 1 - top), QPoint(0, top - rowTop)};
}

} // namespace log_pane

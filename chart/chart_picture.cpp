#include "chart/chart_picture.h"

#include <QColor>

#include <algorithm>

namespace chart {

QImage NewChartPicture() {
    QImage picture(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
    picture.setDotsPerMeterX(kDotsPerMeter);
    picture.setDotsPerMeterY(kDotsPerMeter);
    picture.fill(Qt::white);
    return picture;
}

void PrepareForDrawing(QImage& picture) {
    if (picture.isNull()) {
        picture = NewChartPicture();
        return;
    }
    // The pixel writers store 0xFFRRGGBB words, which all three formats read as the same opaque colour.
    const QImage::Format format = picture.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        picture.convertTo(QImage::Format_RGB32);
    if (picture.dotsPerMeterX() != kDotsPerMeter)
        picture.setDotsPerMeterX(kDotsPerMeter);
    if (picture.dotsPerMeterY() != kDotsPerMeter)
        picture.setDotsPerMeterY(kDotsPerMeter);
}

void ClearChart(QImage& picture) {
    PrepareForDrawing(picture);
    const int right = std::min(kChartRight, picture.width());
    const int bottom = std::min(kChartBottom, picture.height());
    for (int y = 0; y < bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.scanLine(y));
        std::fill(row, row + right, qRgb(255, 255, 255));
    }
}

} // namespace chart

// Reading pixels of a chart picture back as the system's colours, for the chart tests.
#pragma once

#include "chart/tcolor.h"

#include <QImage>
#include <QList>

namespace chart {

inline TColor PixelAt(const QImage& picture, int x, int y) {
    return FromQColor(QColor(picture.pixel(x, y)));
}

// The rows of column x that hold `color`, top to bottom.
inline QList<int> RowsOf(const QImage& picture, int x, TColor color, int fromRow = 0, int toRow = -1) {
    if (toRow < 0)
        toRow = picture.height() - 1;
    QList<int> rows;
    for (int y = fromRow; y <= toRow; ++y)
        if (PixelAt(picture, x, y) == color)
            rows.append(y);
    return rows;
}

// The rows first..last, both included.
inline QList<int> Span(int first, int last) {
    QList<int> rows;
    for (int y = first; y <= last; ++y)
        rows.append(y);
    return rows;
}

inline QImage FilledPicture(int width, int height, TColor color) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(ToQColor(color));
    return picture;
}

} // namespace chart

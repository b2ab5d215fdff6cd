// The chart picture: its size, its coordinates and its clearing.
#pragma once

#include <QImage>

namespace chart {

// The picture is the image control's own size. Coordinates are raw pixels, origin top left, y downwards.
constexpr int kPictureWidth = 609, kPictureHeight = 403;

// The chart area runs from column 0 to 600 and row 0 to 400; the rest of the picture lies outside the frame.
constexpr int kChartRight = 600;
constexpr int kChartBottom = 400;

// 0 V is row 300 and 6 V row 0: 50 pixels per volt.
constexpr int kZeroVoltRow = 300;

// 96 dpi, so that 10-point chart text is 13 pixels high as on the platform the chart was laid out on.
constexpr int kDotsPerMeter = 3780;

// A white 609 x 403 picture at the chart's resolution.
QImage NewChartPicture();

// Makes `picture` ready for the chart's drawing: creates it on first use, and gives it a 32-bit pixel
// format and the chart's resolution. The pixels are kept.
void PrepareForDrawing(QImage& picture);

// Paints columns 0..599 and rows 0..399 white. The right and bottom edge lines (column 600, row 400)
// and everything beyond them keep what they had, marks in column 601 included.
void ClearChart(QImage& picture);

} // namespace chart

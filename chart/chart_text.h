// The chart's text: the one font it is written in, and labels written opaque on white.
#pragma once

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>

namespace chart {

// faces::Chart(), kept for the chart's drawing and metrics.
QFont ChartFont();

// Height in pixels of a line of chart text at the chart's resolution.
int ChartTextHeight();

// The box a label of `text` paints: its advance by the text height.
QSize ChartTextBoxSize(const QString& text);

// Writes labels on a picture the way the chart does: each label first paints a white box exactly the
// size of its text (its advance by the font's height) with the text's top-left corner at the given
// point, then the text in black inside it. Nothing outside the box is touched.
class TextBoxPainter {
public:
    // `picture` must have a 32-bit format and the chart's resolution (PrepareForDrawing).
    explicit TextBoxPainter(QImage& picture);

    // Returns the box painted, clipped to the picture.
    QRect Draw(QPoint topLeft, const QString& text);

private:
    QPainter painter_;
    QRect pictureRect_;
};

// A label that is written again and again with mostly the same text, such as an annotation: the box is
// rendered once per text and copied onto the picture, with the same pixels TextBoxPainter would give.
class CachedTextBox {
public:
    // `picture` must have a 32-bit format (PrepareForDrawing). Returns the box, clipped to the picture.
    QRect Draw(QImage& picture, QPoint topLeft, const QString& text);

private:
    QString text_;
    QImage box_;
};

} // namespace chart

#include "chart/chart_text.h"

#include "chart/chart_picture.h"
#include "faces/faces.h"

#include <QFontMetrics>

#include <cstring>

namespace chart {
namespace {

// Metrics at the chart's resolution, whatever the screen's.
QFontMetrics ChartMetrics() {
    static QImage probe = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(kDotsPerMeter);
        image.setDotsPerMeterY(kDotsPerMeter);
        return image;
    }();
    return QFontMetrics(ChartFont(), &probe);
}

} // namespace

QFont ChartFont() {
    static const QFont font = faces::Chart();
    return font;
}

int ChartTextHeight() {
    static const int height = ChartMetrics().height();
    return height;
}

QSize ChartTextBoxSize(const QString& text) {
    return {ChartMetrics().horizontalAdvance(text), ChartTextHeight()};
}

TextBoxPainter::TextBoxPainter(QImage& picture) : painter_(&picture), pictureRect_(picture.rect()) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, false);
    painter_.setFont(ChartFont());
    painter_.setPen(Qt::black);
}

QRect TextBoxPainter::Draw(QPoint topLeft, const QString& text) {
    const QFontMetrics metrics = painter_.fontMetrics();
    const QRect box(topLeft, QSize(metrics.horizontalAdvance(text), metrics.height()));
    painter_.fillRect(box, Qt::white);
    // Clipped so that a glyph's overhang cannot reach past the box.
    painter_.setClipRect(box);
    painter_.drawText(topLeft.x(), topLeft.y() + metrics.ascent(), text);
    painter_.setClipping(false);
    return box & pictureRect_;
}

QRect CachedTextBox::Draw(QImage& picture, QPoint topLeft, const QString& text) {
    if (text != text_ || box_.isNull()) {
        text_ = text;
        box_ = QImage();
        const QSize size = ChartTextBoxSize(text);
        if (!size.isEmpty()) { // an empty text paints nothing
            box_ = QImage(size, QImage::Format_RGB32);
            box_.setDotsPerMeterX(kDotsPerMeter);
            box_.setDotsPerMeterY(kDotsPerMeter);
            TextBoxPainter(box_).Draw({0, 0}, text);
        }
    }
    const QRect target = QRect(topLeft, box_.size()) & picture.rect();
    if (target.isEmpty())
        return target;
    uchar* bits = picture.bits();
    for (int y = target.top(); y <= target.bottom(); ++y) {
        const auto* source = reinterpret_cast<const QRgb*>(box_.constScanLine(y - topLeft.y()));
        auto* row = reinterpret_cast<QRgb*>(bits + picture.bytesPerLine() * y);
        std::memcpy(row + target.left(), source + (target.left() - topLeft.x()),
                    std::size_t(target.width()) * sizeof(QRgb));
    }
    return target;
}

} // namespace chart

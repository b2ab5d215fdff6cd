#include "app/chart_view.h"

#include <QPainter>
#include <QPaintEvent>

ChartView::ChartView(QWidget* parent) : QWidget(parent) {
    // The control paints every pixel of its area itself, so a repaint of a few chart columns leaves the
    // form under it alone.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartView::Changed() { update(); }

void ChartView::Changed(const QRegion& area) {
    if (!area.isEmpty())
        update(area);
}

void ChartView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Rectangle by rectangle: a sample's columns and the annotation strip are far apart. Each is
    // clipped to itself, so that the picture is copied as it is: under a clip of several rectangles
    // the painter blends it span by span instead, and hands a tall area to helper threads, waking
    // them for a few columns.
    const QRegion shown = event->region() & picture_.rect();
    for (const QRect& r : shown) {
        painter.setClipRect(r);
        painter.drawImage(r.topLeft(), picture_, r);
    }
    painter.setClipping(false);
    // Before the first drawing, and wherever the control is larger than the picture, the form's
    // background shows.
    for (const QRect& r : event->region() - shown)
        painter.fillRect(r, palette().brush(QPalette::Window));
}

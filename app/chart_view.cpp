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
    // Rectangle by rectangle: a sample's columns and the annotation strip are far apart.
    const QRegion shown = event->region() & picture_.rect();
    for (const QRect& r : shown)
        painter.drawImage(r.topLeft(), picture_, r);
    // Before the first drawing, and wherever the control is larger than the picture, the form's
    // background shows.
    for (const QRect& r : event->region() - shown)
        painter.fillRect(r, palette().brush(QPalette::Window));
}

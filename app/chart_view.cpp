#include "app/chart_view.h"

#include <QPainter>
#include <QPaintEvent>

ChartView::ChartView(QWidget* parent) : QWidget(parent) {
    // The control paints every pixel of its area itself, so a repaint of a few chart columns leaves the
    // form under it alone.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartView::Changed() { update(); }

void ChartView::Changed(const QRect& area) { update(area); }

void ChartView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect shown = event->rect() & picture_.rect();
    if (!shown.isEmpty())
        painter.drawImage(shown.topLeft(), picture_, shown);
    // Before the first drawing, and wherever the control is larger than the picture, the form's
    // background shows.
    const QRegion bare = QRegion(event->rect()) - QRegion(shown);
    for (const QRect& r : bare)
        painter.fillRect(r, palette().brush(QPalette::Window));
}

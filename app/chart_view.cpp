#include "app/chart_view.h"

#include <QPainter>
#include <QPaintEvent>

ChartView::ChartView(QWidget* parent) : QWidget(parent) {}

void ChartView::Changed() { update(); }

void ChartView::Changed(const QRect& area) { update(area); }

void ChartView::paintEvent(QPaintEvent* event) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), picture_, event->rect());
}

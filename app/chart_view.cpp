#include "app/chart_view.h"

#include <QPainter>
#include <QPaintEvent>

ChartView::ChartView(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

void ChartView::Changed(int firstColumn, int lastColumn) {
    if (lastColumn < firstColumn)
        update();
    else
        update(QRect(firstColumn, 0, lastColumn - firstColumn + 1, height()));
}

void ChartView::paintEvent(QPaintEvent* event) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(event->rect().topLeft(), picture_, event->rect());
}

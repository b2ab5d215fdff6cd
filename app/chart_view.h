// Image1: shows the chart picture at its own size, unscaled. Before the first
// drawing there is no picture and the control shows nothing.
#pragma once

#include <QImage>
#include <QWidget>

class ChartView : public QWidget {
    Q_OBJECT

public:
    explicit ChartView(QWidget* parent = nullptr);

    QImage& Picture() { return picture_; }
    const QImage& Picture() const { return picture_; }
    // Repaints the given columns of the picture (all of it when empty).
    void Changed(int firstColumn = 0, int lastColumn = -1);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

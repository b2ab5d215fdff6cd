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
    // Repaints the whole picture, or only the part of it that changed.
    void Changed();
    void Changed(const QRegion& area);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

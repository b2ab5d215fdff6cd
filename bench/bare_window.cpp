// The least a Qt Widgets window costs on a display server: a window of the logger's size whose only
// work is one label's text, changed on a timer; nothing is read, logged or recorded. cpu_bench
// measures it on the same X server and in the same way as the logger's window, so the logger's
// figures stand beside what the toolkit alone costs on the machine.
//   bare_window PERIOD_MS
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int periodMs = argc == 2 ? std::atoi(argv[1]) : 0;
    if (periodMs <= 0) {
        std::fprintf(stderr, "usage: bare_window PERIOD_MS\n");
        return 2;
    }
    QWidget window;
    window.resize(800, 600);
    QLabel label(&window);
    label.setGeometry(16, 16, 200, 16);
    window.show();
    int count = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++count;
        label.setText(QStringLiteral("AD0=%1 V, AD1=%2").arg(count % 1024).arg(count * 7 % 4096));
    });
    timer.start(periodMs);
    return app.exec();
}

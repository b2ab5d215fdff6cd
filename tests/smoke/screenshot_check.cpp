// Checks a screenshot of the logger's window from its pixels.
//   screenshot_check empty FILE        the window as started: silver, the fuchsia title,
//                                      the white status box, and no chart picture yet
//   screenshot_check after-sweep FILE  a full sweep on the chart: grid, traces in their bands, and
//                                      the run ended
//   screenshot_check log-selection FILE  rows of the log pane selected: the highlight behind them
//   screenshot_check trend FILE        the trend window (at 0,0, over the form) after a run with an
//                                      outage: the AD0 trace, the unit lost and back on the axis
//   screenshot_check manual FILE       the manual window alone: dark text on a white page
//   screenshot_check same COMMITTED TAKEN [X,Y,W,H...]
//                                      the screenshot kept in the sources is pixel-equal to the one
//                                      taken now, outside the rectangles given (a clock, a date)
// The window's client area stands at 200,144 on the screen (no window manager runs).
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <algorithm>
#include <cstdio>

namespace {

constexpr QPoint kWindow(200, 144);
constexpr QRect kChart(168, 94, 609, 403);

int failures = 0;

void Expect(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
}

QRgb At(const QImage& shot, int x, int y) { return shot.pixel(kWindow.x() + x, kWindow.y() + y) & 0xFFFFFF; }

template <class Predicate>
int CountWhere(const QImage& shot, QRect area, Predicate matches) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += matches(At(shot, x, y)) ? 1 : 0;
    return n;
}

int CountIn(const QImage& shot, QRect area, QRgb colour) {
    return CountWhere(shot, area, [colour](QRgb c) { return c == (colour & 0xFFFFFF); });
}

// Text is drawn smoothed: its strongest pixels are near the pen colour.
bool Reddish(QRgb c) { return qRed(c) > 200 && qGreen(c) < 100 && qBlue(c) < 100; }

} // namespace

// Compares a screenshot kept with the sources to one taken now, outside some rectangles.
int Same(int argc, char* argv[]) {
    const QImage kept = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
    const QImage taken = QImage(QString::fromLocal8Bit(argv[3])).convertToFormat(QImage::Format_RGB32);
    if (kept.isNull() || taken.isNull()) {
        std::fprintf(stderr, "cannot read %s or %s\n", argv[2], argv[3]);
        return 2;
    }
    if (kept.size() != taken.size()) {
        std::printf("FAIL: %s is %dx%d, the screenshot taken now %dx%d\n", argv[2], kept.width(), kept.height(),
                    taken.width(), taken.height());
        return 1;
    }
    QList<QRect> masks;
    for (int i = 4; i < argc; ++i) {
        const QList<QByteArray> n = QByteArray(argv[i]).split(',');
        if (n.size() != 4) {
            std::fprintf(stderr, "a mask is X,Y,W,H: %s\n", argv[i]);
            return 2;
        }
        masks << QRect(n[0].toInt(), n[1].toInt(), n[2].toInt(), n[3].toInt());
    }
    int differing = 0;
    QRect where;
    for (int y = 0; y < kept.height(); ++y)
        for (int x = 0; x < kept.width(); ++x) {
            if (kept.pixel(x, y) == taken.pixel(x, y) ||
                std::any_of(masks.begin(), masks.end(), [x, y](const QRect& m) { return m.contains(x, y); }))
                continue;
            ++differing;
            where |= QRect(x, y, 1, 1);
        }
    if (differing == 0) {
        std::printf("ok  : %s is what the program shows now\n", argv[2]);
        return 0;
    }
    std::printf("FAIL: %s differs from the screenshot taken now in %d pixels, within %d,%d %dx%d; "
                "copy %s over it if the change is meant\n",
                argv[2], differing, where.x(), where.y(), where.width(), where.height(), argv[3]);
    return 1;
}

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc >= 4 && QByteArray(argv[1]) == "same")
        return Same(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: screenshot_check empty|after-sweep|log-selection|trend|manual FILE\n");
        return 2;
    }
    const QImage shot(QString::fromLocal8Bit(argv[2]));
    if (shot.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[2]);
        return 2;
    }
    const QString mode = QString::fromLatin1(argv[1]);
    if (mode == QLatin1String("trend")) {
        const QRect plot(0, 40, 960, 520);
        const auto count = [&](QRgb colour) {
            int n = 0;
            for (int y = plot.top(); y <= plot.bottom(); ++y)
                for (int x = plot.left(); x <= plot.right(); ++x)
                    n += (shot.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
            return n;
        };
        Expect(count(qRgb(0, 128, 0)) > 200, "AD0 trace in its colour");
        Expect(count(qRgb(220, 0, 0)) > 40, "unit lost marked");
        Expect(count(qRgb(0, 160, 0)) > 40, "unit back marked");
        return failures == 0 ? 0 : 1;
    }
    if (mode == QLatin1String("manual")) {
        const QRect page = shot.rect().adjusted(10, 10, -30, -10); // inside the frame, left of the scroll bar
        const int area = page.width() * page.height();
        const auto count = [&](auto matches) {
            int n = 0;
            for (int y = page.top(); y <= page.bottom(); ++y)
                for (int x = page.left(); x <= page.right(); ++x)
                    n += matches(shot.pixel(x, y)) ? 1 : 0;
            return n;
        };
        Expect(shot.width() >= 600 && shot.height() >= 400, "a window of the manual's size");
        Expect(count([](QRgb c) { return (c & 0xFFFFFF) == 0xFFFFFF; }) > area / 2, "a white page");
        Expect(count([](QRgb c) { return qGray(c) < 100; }) > area / 200, "text on it");
        return failures == 0 ? 0 : 1;
    }
    const QRgb silver = qRgb(192, 192, 192), white = qRgb(255, 255, 255), fuchsia = qRgb(255, 0, 255);

    Expect(At(shot, 850, 40) == (silver & 0xFFFFFF) && At(shot, 140, 60) == (silver & 0xFFFFFF),
           "silver window background");
    Expect(CountIn(shot, QRect(6, 4, 140, 20), fuchsia) > 30, "fuchsia title");
    Expect(CountIn(shot, QRect(5, 29, 150, 12), white) > 600 && CountWhere(shot, QRect(5, 29, 150, 12), Reddish) > 20,
           "red text on the white status box");
    // Nothing clipped, in either language: each option box's caption is drawn and ends before the box.
    struct Box {
        QRect rect;
        const char* what;
    };
    for (const Box& box : {Box{{8, 174, 97, 17}, "auto-print caption whole"},
                           Box{{8, 326, 97, 17}, "continuous caption whole"},
                           Box{{8, 414, 105, 17}, "auto-save caption whole"}}) {
        const auto ink = [](QRgb c) { return qGray(c) < 100; };
        const QRect lastColumns(box.rect.right() - 1, box.rect.top(), 2, box.rect.height());
        Expect(CountWhere(shot, box.rect, ink) > 20 && CountWhere(shot, lastColumns, ink) == 0, box.what);
    }

    if (mode == QLatin1String("log-selection")) {
        // Memo1 stands at 320,536 (433 x 65); the highlight is the style's blue, well apart from the
        // white ground, the black text and the grey frame.
        const auto highlight = [](QRgb c) { return qBlue(c) > 150 && qBlue(c) > qRed(c) + 80; };
        Expect(CountWhere(shot, QRect(322, 538, 410, 61), highlight) > 500, "rows selected in the log pane");
    } else if (mode == QLatin1String("empty")) {
        const int silverInChart = CountIn(shot, kChart, silver);
        Expect(silverInChart == kChart.width() * kChart.height(), "chart area empty before the first START");
    } else {
        const QRgb gray = qRgb(128, 128, 128), green = qRgb(0, 128, 0), olive = qRgb(128, 128, 0);
        Expect(At(shot, kChart.left() + 45, kChart.top() + 300) == (gray & 0xFFFFFF), "zero-volt axis");
        Expect(CountIn(shot, QRect(kChart.left() + 600, kChart.top(), 1, 401), gray) > 300, "right edge");
        Expect(CountIn(shot, QRect(kChart.left(), kChart.top() + 25, 600, 275), green) > 200,
               "AD0 trace above the axis");
        Expect(CountIn(shot, QRect(kChart.left(), kChart.top(), 600, 300), olive) > 200, "AD1 trace above the axis");
        Expect(CountIn(shot, QRect(kChart.left(), kChart.top() + 318, 602, 75), qRgb(0, 0, 255)) > 100,
               "digital line 1 in its band");
        // The chart fills from the left long before the sweep ends; START, grey during the run, is
        // drawn black again once it has ended, and nothing changes after that.
        Expect(CountWhere(shot, QRect(11, 75, 44, 16), [](QRgb c) { return qGray(c) < 80; }) > 30,
               "START enabled again: the run has ended");
    }
    return failures == 0 ? 0 : 1;
}

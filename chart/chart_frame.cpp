#include "chart/chart_frame.h"

#include "chart/annotation_texts.h"
#include "chart/chart_picture.h"
#include "chart/chart_text.h"
#include "chart/frame_stamp.h"
#include "chart/tcolor.h"

#include <QLocale>

#include <algorithm>
#include <cstring>

namespace chart {
namespace {

constexpr int kTimeGridStep = 60; // one vertical grid line every 60 samples
constexpr int kVoltGridStep = 50; // one horizontal grid line every volt
constexpr int kDigitalGridTop = 310;
constexpr int kDigitalGridBottom = 390;
constexpr int kDigitalGridStep = 10;

struct Label {
    const char* text;
    int x;
    int y;
};

// "0" serves both axes, so it has no "V".
constexpr Label kLabels[] = {
    {"6V", 5, 2},      {"5V", 5, 45},     {"4V", 5, 95},      {"3V", 5, 145},    {"2V", 5, 195},
    {"1V", 5, 245},    {"0", 5, 295},     {"60", 55, 295},    {"120", 110, 295}, {"180", 170, 295},
    {"240", 230, 295}, {"300", 290, 295}, {"360", 350, 295},  {"420", 410, 295}, {"480", 470, 295},
    {"540", 530, 295}, {"600", 585, 295}, {"TIME", 580, 280},
};

constexpr QPoint kTimeStampAt(50, kAnnotationTop);
constexpr QPoint kSamplingTimeAt(220, kAnnotationTop);
constexpr QPoint kFileNameAt(400, kAnnotationTop);

// The fixed part of the frame, in drawing order, with or without the digital-area grid.
FrameStamp BuildStamp(bool withDigitalGrid) {
    FrameStamp stamp(kPictureWidth, kPictureHeight);
    for (int x = 0; x <= kChartRight; x += kTimeGridStep)
        stamp.DrawLine({x, kChartBottom}, {x, 0}, clGray, true);
    for (int y = 0; y < kZeroVoltRow; y += kVoltGridStep)
        stamp.DrawLine({0, y}, {kChartRight, y}, clGray, true);

    stamp.DrawLine({0, kZeroVoltRow}, {kChartRight, kZeroVoltRow}, clGray, false);
    stamp.DrawLine({0, 0}, {kChartRight, 0}, clGray, false);
    stamp.DrawLine({0, kChartBottom}, {kChartRight, kChartBottom}, clGray, false);
    stamp.DrawLine({0, 0}, {0, kChartBottom}, clGray, false);
    stamp.DrawLine({kChartRight, 0}, {kChartRight, kChartBottom}, clGray, false);

    if (withDigitalGrid)
        for (int y = kDigitalGridTop; y <= kDigitalGridBottom; y += kDigitalGridStep)
            stamp.DrawLine({0, y}, {kChartRight, y}, clGray, true);

    for (const Label& label : kLabels)
        stamp.DrawText({label.x, label.y}, QString::fromLatin1(label.text));
    stamp.Finish();
    return stamp;
}

const FrameStamp& FirstSampleStamp() {
    static const FrameStamp stamp = BuildStamp(true);
    return stamp;
}

const FrameStamp& SteadyStamp() {
    static const FrameStamp stamp = BuildStamp(false);
    return stamp;
}

struct AnnotationTexts {
    QString timeStamp;
    QString samplingTime;
    QString fileName;
    bool operator==(const AnnotationTexts&) const = default;
};

// The time stamp shows whole seconds: its text is formatted again only when the second (or the
// locale) changes, not at every sample.
QString TimeStampOfSecond(const QDateTime& now) {
    thread_local QDate date;
    thread_local QTime second;
    thread_local QLocale locale = QLocale::c();
    thread_local QString text;
    const QTime time = now.time();
    const QTime wholeSecond(time.hour(), time.minute(), time.second());
    const QLocale system = QLocale::system();
    if (text.isNull() || now.date() != date || wholeSecond != second || system != locale) {
        date = now.date();
        second = wholeSecond;
        locale = system;
        text = TimeStampText(now, system);
    }
    return text;
}

AnnotationTexts TextsOf(const FrameTexts& texts) {
    return {TimeStampOfSecond(texts.now), SamplingTimeText(texts.samplingTime),
            FileNameText(texts.baseName, texts.fileIndex)};
}

// The annotations mostly repeat from one sample to the next (the time stamp changes once a second), so
// each keeps its last rendering.
void DrawAnnotations(QImage& picture, const AnnotationTexts& texts) {
    thread_local CachedTextBox timeStamp, samplingTime, fileName;
    timeStamp.Draw(picture, kTimeStampAt, texts.timeStamp);
    samplingTime.Draw(picture, kSamplingTimeAt, texts.samplingTime);
    fileName.Draw(picture, kFileNameAt, texts.fileName);
}

// Which picture's annotation strip was last drawn whole, and with which texts. While the redraw after a
// sample finds the same picture and the same texts, the strip outside the sample's columns still holds
// exactly what drawing it again would give: only the sample's columns are drawn again.
struct StripDrawn {
    qint64 picture = -1; // the picture's data (QImage::cacheKey without its count of detaches)
    AnnotationTexts texts;
};
thread_local StripDrawn stripDrawn;

qint64 PictureData(const QImage& picture) {
    return picture.cacheKey() >> 32;
}

} // namespace

int AnnotationStripBottom() {
    return kAnnotationTop + ChartTextHeight() - 1;
}

void DrawChartFrame(QImage& picture, const FrameTexts& texts, quint8& gridDrawn) {
    PrepareForDrawing(picture);
    if (gridDrawn == 0) {
        gridDrawn = 1;
        FirstSampleStamp().Apply(picture);
    } else {
        SteadyStamp().Apply(picture);
    }
    const AnnotationTexts annotations = TextsOf(texts);
    DrawAnnotations(picture, annotations);
    stripDrawn = {PictureData(picture), annotations};
}

QRegion DrawChartFrameAfterSample(QImage& picture, const FrameTexts& texts, quint8& gridDrawn, int firstColumn,
                                  int lastColumn) {
    if (gridDrawn == 0) {
        DrawChartFrame(picture, texts, gridDrawn);
        return QRegion(picture.rect());
    }
    PrepareForDrawing(picture);
    const AnnotationTexts annotations = TextsOf(texts);
    const QRegion columns(QRect(firstColumn, 0, lastColumn - firstColumn + 1, picture.height()) & picture.rect());
    if (stripDrawn.picture == PictureData(picture) && stripDrawn.texts == annotations) {
        SteadyStamp().ApplyClipped(picture, firstColumn, lastColumn, -1);
        DrawAnnotations(picture, annotations);
        return columns;
    }
    // The strip is stamped and annotated again whole, but its pixels change only when an annotation
    // does: keep a copy to find the stretch that did.
    const QRect strip = QRect(0, 0, picture.width(), AnnotationStripBottom() + 1) & picture.rect();
    thread_local QImage before;
    if (before.size() != strip.size() || before.format() != picture.format())
        before = QImage(strip.size(), picture.format());
    for (int y = 0; y < strip.height(); ++y)
        std::memcpy(before.scanLine(y), picture.constScanLine(y), std::size_t(strip.width()) * sizeof(QRgb));

    SteadyStamp().ApplyClipped(picture, firstColumn, lastColumn, AnnotationStripBottom());
    DrawAnnotations(picture, annotations);
    stripDrawn = {PictureData(picture), annotations};

    QRegion changed = columns;
    int left = strip.width(), right = -1;
    for (int y = 0; y < strip.height(); ++y) {
        const auto* old = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* now = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        if (std::memcmp(old, now, std::size_t(strip.width()) * sizeof(QRgb)) == 0)
            continue;
        int x = 0;
        while (old[x] == now[x])
            ++x;
        left = std::min(left, x);
        x = strip.width() - 1;
        while (old[x] == now[x])
            --x;
        right = std::max(right, x);
    }
    if (right >= left)
        changed += QRect(left, 0, right - left + 1, strip.height());
    return changed;
}

} // namespace chart

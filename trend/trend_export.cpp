#include "trend/trend_export.h"

#include "record/csv_row.h"
#include "storage/replace_file.h"
#include "storage/temporary_file.h"
#include "trend/decimation.h"
#include "trend/statistics.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QTimeZone>
#include <qcustomplot.h>

namespace trend {

namespace {

// Draws the plot as it is on show onto a painter of vectors (PDF, SVG). The device has the screen's
// resolution, so that the texts' point sizes keep their proportion to the plot's pixels.
void PaintVectors(QCustomPlot& plot, QPaintDevice& device) {
    QCPPainter painter(&device);
    painter.setMode(QCPPainter::pmVectorized);
    painter.setWindow(plot.viewport());
    plot.toPainter(&painter);
    painter.end();
}

} // namespace

QString StatsPath(const QString& slicePath) {
    const QFileInfo slice(slicePath);
    return slice.dir().filePath(slice.completeBaseName() + QStringLiteral(".stats.csv"));
}

report::Done NoLiveRecordAmong(const QStringList& paths) {
    for (const QString& path : paths)
        if (storage::HeldByWriter(QFile::encodeName(path)))
            return report::Fail(QCoreApplication::translate(
                                    "trend", "%1 は書き込み中の測定の記録です。何も書き出していません")
                                    .arg(QFileInfo(path).fileName()));
    return {};
}

report::Done SavePicture(QCustomPlot& plot, const QString& path) {
    if (auto live = NoLiveRecordAmong({path}); !live)
        return live;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QSize size = plot.viewport().size();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (suffix == QLatin1String("png")) {
        if (!plot.toPixmap().toImage().save(&buffer, "PNG"))
            return report::Fail(
                QCoreApplication::translate("trend", "%1: PNG を作れません").arg(QFileInfo(path).fileName()));
    } else if (suffix == QLatin1String("pdf")) {
        QPdfWriter pdf(&buffer);
        pdf.setResolution(plot.logicalDpiX());
        pdf.setCreator(QStringLiteral("Tavrin"));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point, QString(), QPageSize::ExactMatch));
        PaintVectors(plot, pdf);
    } else if (suffix == QLatin1String("svg")) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setResolution(plot.logicalDpiX());
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(QStringLiteral("Tavrin"));
        PaintVectors(plot, svg);
    } else {
        return report::Fail(QCoreApplication::translate("trend", "%1: 保存できる形式は PNG, PDF, SVG です")
                                .arg(QFileInfo(path).fileName()));
    }
    buffer.close();
    if (auto saved = storage::ReplaceFile(path, bytes, storage::LinkHandling::ReplaceLink); !saved)
        return report::Fail(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), saved.Reason()));
    return {};
}

report::Done SaveSlice(const Trace& trace, Trace::Keys keys, double fromS, double toS, const QString& path,
                       bool volts) {
    const QString statsPath = StatsPath(path);
    if (auto live = NoLiveRecordAmong({path, statsPath}); !live)
        return live;
    const RowRanges rows = RowsIn(trace, keys, fromS, toS);
    std::size_t count = 0;
    for (const auto& [first, last] : rows)
        count += last - first;
    std::string bytes(record::kHeaderRow);
    bytes.reserve(bytes.size() + count * 64);
    // One zone for every row of the same offset: making one is dearer than writing a row.
    std::int16_t offset = 0;
    QTimeZone zone(0);
    const channels::Channels channels = trace.ChannelsOf();
    for (const auto& [first, last] : rows)
        for (std::size_t i = first; i < last; ++i) {
            const Row row = trace.At(i);
            if (row.offsetMinutes != offset) {
                offset = row.offsetMinutes;
                zone = QTimeZone(offset * 60);
            }
            record::AppendRow(bytes, SampleOf(row, &zone), channels);
        }
    if (auto saved = storage::ReplaceFile(path, QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                          storage::LinkHandling::ReplaceLink);
        !saved)
        return report::Fail(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), saved.Reason()));
    // Beside it, the numbers over the same rows.
    const std::string stats = StatsCsv(trace, rows, volts);
    if (auto saved = storage::ReplaceFile(statsPath, QByteArrayView(stats.data(), qsizetype(stats.size())),
                                          storage::LinkHandling::ReplaceLink);
        !saved)
        return report::Fail(QStringLiteral("%1: %2").arg(QFileInfo(statsPath).fileName(), saved.Reason()));
    return {};
}

} // namespace trend

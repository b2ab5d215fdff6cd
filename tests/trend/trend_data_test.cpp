// The trend window's data: where lines break, what a view of a long run draws
// at every zoom, and reading run records back, bad ones included.
#include "record/csv_row.h"
#include "record/run_record_file.h"
#include "trend/decimation.h"
#include "trend/record_reader.h"
#include "trend/statistics.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <cmath>
#include <sys/file.h>

using acquisition::SampleNote;
using trend::Channel;
using trend::Trace;

namespace {

constexpr std::int64_t kDayStartMs = 1'796'000'000'000; // 2026-11-29, a whole-second instant

trend::Row Sample(std::int64_t elapsedMs, std::int16_t ad0, std::uint8_t levels = 0) {
    trend::Row row;
    row.timeMs = kDayStartMs + elapsedMs;
    row.elapsedMs = elapsedMs;
    row.ad0 = ad0;
    row.ad1 = 100;
    row.levels = levels;
    return row;
}

// "100 100- 300L 5000B 100c3600000": each row's milliseconds after the one before, then what it is:
// nothing for a sample of 1.00 V, "-" AD0 empty, F no frame, R no reply, L unit lost, B unit back;
// "cN" sets the clock N ms further on than the elapsed time (back, for a negative N).
std::unique_ptr<Trace> TraceOf(const QString& rows) {
    auto trace = std::make_unique<Trace>();
    std::int64_t elapsed = 0, clockAhead = 0;
    static const QRegularExpression token(QStringLiteral("^(\\d+)([-FRLB]?)(?:c(-?\\d+))?$"));
    for (const QString& t : rows.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const auto m = token.match(t);
        elapsed += m.captured(1).toLongLong();
        clockAhead += m.captured(3).toLongLong();
        trend::Row row = Sample(elapsed, 100);
        row.timeMs += clockAhead;
        const QString kind = m.captured(2);
        if (kind == QLatin1String("-"))
            row.ad0 = trend::kNoVolts;
        else if (!kind.isEmpty()) {
            row.ad0 = row.ad1 = trend::kNoVolts;
            row.levels = trend::kNoLevels;
            row.note = kind == QLatin1String("F")   ? SampleNote::NoFrame
                       : kind == QLatin1String("R") ? SampleNote::NoReply
                       : kind == QLatin1String("L") ? SampleNote::UnitLost
                                                    : SampleNote::UnitBack;
        }
        trace->Append(row);
    }
    return trace;
}

// The line's pieces as milliseconds from `originMs`, layer by layer: "0 100 200|700 800 / 50 150".
QString Pieces(const std::vector<trend::Polyline>& layers, std::int64_t originMs = 0) {
    QStringList drawn;
    for (const trend::Polyline& line : layers) {
        QStringList pieces{QString()};
        for (int i = 0; i < line.keys.size(); ++i) {
            if (std::isnan(line.values[i]))
                pieces << QString();
            else
                pieces.back() += (pieces.back().isEmpty() ? "" : " ") +
                                 QString::number(std::llround(line.keys[i] * 1000) - originMs);
        }
        drawn << pieces.join(QLatin1Char('|'));
    }
    return drawn.join(QStringLiteral(" / "));
}

// A record written before the channels had units, and one since.
QByteArray kHeader = QByteArray(record::kVoltsOnlyHeaderRow.data(), qsizetype(record::kVoltsOnlyHeaderRow.size()));
QByteArray kUnitsHeader = QByteArray(record::kHeaderRow.data(), qsizetype(record::kHeaderRow.size()));

// A trace's units as "unit slope offset decimals", AD0's then AD1's.
QString UnitsText(const Trace& trace) {
    QStringList said;
    for (const Channel c : {Channel::Ad0, Channel::Ad1}) {
        const trend::Units& u = trace.UnitsOf(c);
        said << QStringLiteral("%1 %2 %3 %4")
                    .arg(u.channel.unit)
                    .arg(u.channel.scale.Slope())
                    .arg(u.channel.scale.Offset())
                    .arg(u.decimals);
    }
    return said.join(QStringLiteral(", "));
}

} // namespace

class TrendDataTest : public QObject {
    Q_OBJECT

private slots:
    // Statistics over rows, not columns: AD0 of a stretch, and the file written beside a slice.
    void statistics_data() {
        QTest::addColumn<QList<int>>("ad0"); // hundredths, -1 empty; a row every 100 ms, AD1 at 1.00 V
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QByteArray>("csv");
        QTest::addColumn<QString>("scale"); // AD0's; none: volts
        QTest::addColumn<QString>("name");  // AD0's with the scale
        QTest::addColumn<QString>("unit");
        const QByteArray header = "channel,unit,from,to,samples,min,max,mean,rms,stddev\r\n";
        QTest::newRow("in °C, 0 V 0 °C to 5 V 500 °C")
            << QList<int>{100, 200, 300, -1, 400} << 0 << 5
            << header + "AD0,°C,2026-11-30T00:53:20.000+00:00,2026-11-30T00:53:20.400+00:00,4,100,400,250.00,273.86,111.80\r\n"
                        "AD1,V,2026-11-30T00:53:20.000+00:00,2026-11-30T00:53:20.400+00:00,5,1.00,1.00,1.0000,1.0000,0.0000\r\n"
            << "0=0,5=500" << "AD0" << "°C";
        // A spreadsheet reads a cell beginning with an apostrophe as text, never as a formula.
        QTest::newRow("a name and a unit a spreadsheet would take for formulas")
            << QList<int>{100, 200} << 0 << 2
            << header + "'@cmd,'=1+1,2026-11-30T00:53:20.000+00:00,2026-11-30T00:53:20.100+00:00,2,100,200,150.00,158.11,50.00\r\n"
                        "AD1,V,2026-11-30T00:53:20.000+00:00,2026-11-30T00:53:20.100+00:00,2,1.00,1.00,1.0000,1.0000,0.0000\r\n"
            << "0=0,5=500" << "@cmd" << "=1+1";
        QTest::newRow("an empty reading left out")
            << QList<int>{100, 200, 300, -1, 400} << 0 << 5
            << header + "AD0,V,2026-11-30T00:53:20.000+00:00,2026-11-30T00:53:20.400+00:00,4,1.00,4.00,2.5000,2.7386,1.1180\r\n"
                        "AD1,V,2026-11-30T00:53:20.000+00:00,2026-11-30T00:53:20.400+00:00,5,1.00,1.00,1.0000,1.0000,0.0000\r\n"
            << "" << "" << "";
        QTest::newRow("a stretch in the middle")
            << QList<int>{100, 200, 300, 400} << 1 << 3
            << header + "AD0,V,2026-11-30T00:53:20.100+00:00,2026-11-30T00:53:20.200+00:00,2,2.00,3.00,2.5000,2.5495,0.5000\r\n"
                        "AD1,V,2026-11-30T00:53:20.100+00:00,2026-11-30T00:53:20.200+00:00,2,1.00,1.00,1.0000,1.0000,0.0000\r\n"
            << "" << "" << "";
        QTest::newRow("nothing in range") << QList<int>{100} << 1 << 1 << header << "" << "" << "";
    }
    void statistics() {
        QFETCH(QList<int>, ad0);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QByteArray, csv);
        QFETCH(QString, scale);
        QFETCH(QString, name);
        QFETCH(QString, unit);
        Trace trace;
        if (!scale.isEmpty())
            trace.SetUnits(Channel::Ad0, {{name, unit, *channels::ParseScale(scale), {}}, 0});
        for (int i = 0; i < ad0.size(); ++i)
            trace.Append(Sample(100 * i, ad0[i] < 0 ? trend::kNoVolts : std::int16_t(ad0[i])));
        QCOMPARE(QByteArray::fromStdString(trend::StatsCsv(trace, {{std::size_t(from), std::size_t(to)}})), csv);
    }

    void lineBreaks_data() {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("pieces"); // by the seconds since START
        QTest::addColumn<QString>("clock");  // by the clock, where it differs
        QTest::newRow("steady") << "0 100 100 100"
                                << "0 100 200 300" << "";
        QTest::newRow("a jump of three intervals joins") << "0 100 100 300 100"
                                                         << "0 100 200 500 600" << "";
        QTest::newRow("a jump of four breaks") << "0 100 100 100 400 100"
                                               << "0 100 200 300|700 800" << "";
        QTest::newRow("no reply") << "0 100 100R 100 100"
                                  << "0 100|300 400" << "";
        QTest::newRow("no frame") << "0 100F 100"
                                  << "0|200" << "";
        QTest::newRow("unit lost, unit back") << "0 100 100 100L 5000B 100 100"
                                              << "0 100 200|5400 5500" << "";
        QTest::newRow("channel empty") << "0 100 100- 100 100"
                                       << "0 100|300 400" << "";
        QTest::newRow("the clock jumps") << "0 100 100 100c3600000 100"
                                         << "0 100 200|300 400" << "0 100 200|3600300";
        QTest::newRow("a longer sampling time after three intervals")
            << "0 100 100 100 100 1000 1000 1000 1000 1000"
            << "0 100 200 300 400|1400|2400|3400 4400 5400" << "";
        QTest::newRow("the clock set back: what overlaps goes on a layer of its own")
            << "0 100 100c-250 100 100" << "0 100 200 300 400" << "0 100 / -50 50 150";
        QTest::newRow("set back before the first row: the later rows lie wholly before")
            << "0 100 100c-1000 100" << "0 100 200 300" << "0 100 / -800 -700";
        QTest::newRow("set back twice")
            << "0 100 100c-250 100 100c-250 100" << "0 100 200 300 400 500" << "0 100 / -50 50 / -100 0";
    }
    void lineBreaks() {
        QFETCH(QString, rows);
        QFETCH(QString, pieces);
        QFETCH(QString, clock);
        const auto trace = TraceOf(rows);
        const trend::Span span{Trace::Keys::Elapsed, 0, 100, 10'000};
        QCOMPARE(Pieces(trend::VoltsLines(*trace, Channel::Ad0, trend::GridsOf(*trace, span))), pieces);
        const double dayS = double(kDayStartMs) / 1000.0;
        const trend::Span clockSpan{Trace::Keys::Clock, dayS - 10, dayS + 100, 10'000};
        QCOMPARE(Pieces(trend::VoltsLines(*trace, Channel::Ad0, trend::GridsOf(*trace, clockSpan)), kDayStartMs),
                 clock.isEmpty() ? pieces : clock);
    }

    // A day at 0.1 s with a one-sample spike, a one-sample dip, a one-sample HH pulse and an hour without
    // the unit, seen 800 pixels wide from two seconds to the whole day.
    void everyZoomKeepsSpikesAndOutage_data() {
        QTest::addColumn<double>("widthS");
        QTest::addColumn<int>("breaks"); // the outage's, where the view holds it
        for (const double width : {2.0, 60.0, 600.0, 3600.0, 4 * 3600.0, 86400.0, 3 * 86400.0})
            QTest::addRow("%g s", width) << width << (width > 3600 ? 1 : 0);
    }
    void everyZoomKeepsSpikesAndOutage() {
        QFETCH(double, widthS);
        QFETCH(int, breaks);
        static const std::unique_ptr<Trace> day = [] {
            auto t = std::make_unique<Trace>();
            for (std::int64_t i = 0; i < 864'000; ++i) {
                const std::int64_t ms = i * 100;
                if (ms >= 36'000'000 && ms < 39'600'000) { // 10:00 to 11:00 after START: unit lost
                    if (ms == 36'000'000 || ms == 39'500'000) {
                        trend::Row note = Sample(ms, trend::kNoVolts, trend::kNoLevels);
                        note.ad1 = trend::kNoVolts;
                        note.note = ms == 36'000'000 ? SampleNote::UnitLost : SampleNote::UnitBack;
                        t->Append(note);
                    }
                    continue;
                }
                t->Append(Sample(ms,
                                 i == 432'001   ? 500
                                 : i == 432'007 ? 0
                                                : 150 + std::int16_t(i % 7),
                                 i == 432'005 ? 0x08 : 0x01));
            }
            return t;
        }();
        const double spikeS = 43'200.1, dipS = 43'200.7, pulseS = 43'200.5;
        // Around the spike, except the widest views, which hold the outage too.
        const double from = widthS >= 8 * 3600 ? 0 : widthS > 3600 ? 36'000 - 60 : spikeS - widthS / 2;
        const trend::Span span{Trace::Keys::Elapsed, from, from + widthS, 800};
        const auto grids = trend::GridsOf(*day, span);
        const auto volts = trend::VoltsLines(*day, Channel::Ad0, grids).at(0);
        const auto levels = trend::LevelLines(*day, grids).at(0);
        const double column = std::max(widthS / 800, 0.1);
        const auto near = [&](const trend::Polyline& line, double keyS, double value) {
            for (int i = 0; i < line.keys.size(); ++i)
                if (line.values[i] == value && std::abs(line.keys[i] - keyS) <= column)
                    return true;
            return false;
        };
        if (from <= spikeS && spikeS <= from + widthS) {
            QVERIFY(near(volts, spikeS, 5.0));
            QVERIFY(near(volts, dipS, 0.0));
            QVERIFY(near(levels[0], pulseS, 1.0));
        }
        const auto nans =
            std::count_if(volts.values.begin(), volts.values.end(), [](double v) { return std::isnan(v); });
        QCOMPARE(int(nans), breaks);
        QVERIFY(volts.keys.size() <= 4 * 803 + 1);
        for (int i = 0; i < volts.keys.size(); ++i) // nothing drawn inside the outage
            QVERIFY(volts.keys[i] < 36'000 + column || volts.keys[i] > 39'600 - column);
        QCOMPARE(int(trend::EventKeys(*day, SampleNote::UnitLost, span).size()), breaks);
    }

    // Each record read from its bytes and from a file in chunks of 61 bytes, so that lines straddle
    // chunks everywhere; `cutTo`: the file is cut to that many bytes once its first chunk is read.
    void readRecord_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<int>("cutTo");
        QTest::addColumn<QString>("units"); // UnitsText; empty: not looked at
        const QByteArray a = "2026-12-07T09:30:47.123+09:00,0.100,0,0,3.07,1.23,1,0,0,1,\r\n";
        const QByteArray b = "2026-12-07T09:30:47.223+09:00,0.200,0,1,3.08,,1,0,0,1,\r\n";
        QTest::newRow("a record") << kHeader + a + b << 2 << "" << -1 << "V 1 0 2, V 1 0 2";
        // With the value columns: AD0 0 V 0 °C to 5 V 500 °C, AD1 in volts, then in a unit that needs quoting.
        const QByteArray c = "2026-12-07T09:30:47.123+09:00,0.100,0,0,3.07,1.23,1,0,0,1,,307,°C,1.23,V\r\n";
        const QByteArray d = "2026-12-07T09:30:47.223+09:00,0.200,0,1,4.10,,1,0,0,1,ad0 high,410,°C,,\r\n";
        const QByteArray e = "2026-12-07T09:30:47.323+09:00,0.300,0,2,4.00,0.00,1,0,0,1,,400,°C,0.000,\"in \"\"Hg\"\", abs\"\r\n";
        const QByteArray f = "2026-12-07T09:30:47.423+09:00,0.400,0,3,4.00,,1,0,0,1,,500,°C,,\r\n";
        QTest::newRow("with units") << kUnitsHeader + c + d << 2 << "" << -1 << "°C 100 0 0, V 1 0 2";
        QTest::newRow("a quoted unit") << kUnitsHeader + e + QByteArray(e).replace("0.00,", "2.00,").replace("0.000", "0.200")
                                       << 2 << "" << -1 << "°C 100 0 0, in \"Hg\", abs 0.1 0 3";
        QTest::newRow("negative values, a decimal")
            << kUnitsHeader + QByteArray(c).replace(",1.23,V", ",-50.0,K").replace(",1.23,", ",0.00,") +
                   QByteArray(c).replace(",1.23,V", ",0.0,K").replace(",1.23,", ",2.50,") +
                   QByteArray(c).replace(",1.23,V", ",-25.4,K")
            << 3 << "" << -1 << "°C 100 0 0, K 20 -50 1";
        QTest::newRow("a value off the line")
            << kUnitsHeader + c + d + f << 2
            << "r.csv の 4 行目: 列「ad0_value」の値「500」が列「ad0_v」の値「4.00」と合いません (読めない行は 1 行。飛ばして、残りをすべて表示します)"
            << -1 << "°C 100 0 0, V 1 0 2";
        QTest::newRow("a unit changed")
            << kUnitsHeader + c + QByteArray(c).replace("°C", "K") << 1
            << "r.csv の 3 行目: 列「ad0_unit」の値「K」が前の行の単位「°C」と違います (読めない行は 1 行。飛ばして、残りをすべて表示します)"
            << -1 << "";
        QTest::newRow("a row without the value columns")
            << kUnitsHeader + c + a << 1
            << "r.csv の 3 行目: 列が 11 個あります (記録の行は 15 列です) (読めない行は 1 行。飛ばして、残りをすべて表示します)"
            << -1 << "";
        QTest::newRow("long, with units, read by two threads, off the line near its end")
            << kUnitsHeader + (c + d).repeated(45'000) + QByteArray(d).replace(",410,", ",411,") + c << 90'001
            << "r.csv の 90002 行目: 列「ad0_value」の値「411」が列「ad0_v」の値「4.10」と合いません (読めない行は 1 行。飛ばして、残りをすべて表示します)"
            << -1 << "°C 100 0 0, V 1 0 2";
        QTest::newRow("line feeds alone, a byte-order mark")
            << "\xEF\xBB\xBF" + kHeader.chopped(2) + "\n" + a.chopped(2) + "\n"
            << 1 << "" << -1 << "";
        QTest::newRow("empty file") << QByteArray() << 0
                                    << "r.csv: 空のファイルです。記録ファイルではありません" << -1 << "";
        QTest::newRow("header only") << kHeader << 0 << "r.csv: サンプルの行がありません" << -1 << "";
        QTest::newRow("not a record")
            << QByteArray("a,b,c\r\n1,2,3\r\n") << 0
            << "r.csv: 記録ファイルではありません (1 行目が記録の見出しではありません)" << -1 << "";
        QTest::newRow("not text")
            << QByteArray("\x89PNG\r\n\x1a\n\0\0", 10) << 0
            << "r.csv の 1 行目: UTF-8 でないバイトがあります。記録ファイルではありません" << -1 << "";
        QTest::newRow("a missing column")
            << QByteArray("time,elapsed_s,sweep,ad0_v,ad1_v,hh,hl,lh,ll,note\r\n") + a << 0
            << "r.csv の 1 行目: 列「x」がありません" << -1 << "";
        QTest::newRow("malformed volts on line 3")
            << kHeader + a + QByteArray(a).replace(",3.07,", ",3.0,") + b << 2
            << "r.csv の 3 行目: 列「ad0_v」の値「3.0」が読めません (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("no such day")
            << kHeader + QByteArray(a).replace("12-07", "02-30") << 0
            << "r.csv の 2 行目: 列「time」の値「2026-02-30T09:30:47.123+09:00」が読めません (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("a field missing")
            << kHeader + a + QByteArray(b).replace(",,", ",") << 1
            << "r.csv の 3 行目: 列が 10 個あります (記録の行は 11 列です) (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("some lines empty") << kHeader + QByteArray(a).replace("1,0,0,1", "1,,0,1") << 0
                                          << "r.csv の 2 行目: hh, hl, lh, ll の一部だけが空です (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("an unknown note") << kHeader + a + QByteArray(b).replace(",\r\n", ",lost\r\n") << 1
                                         << "r.csv の 3 行目: 列「note」の値「lost」が読めません (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("a byte that is not UTF-8")
            << kHeader + a + QByteArray(b).replace(",\r\n", ",\xff\r\n") << 1
            << "r.csv の 3 行目: UTF-8 でないバイトがあります (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("an empty line")
            << kHeader + a + "\r\n" + b << 2 << "r.csv の 3 行目: 空の行です (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("long, read by two threads, bad near its end")
            << kHeader + a.repeated(90'000) + QByteArray(b).replace(",0,1,", ",0,x,") + b << 90'001
            << "r.csv の 90002 行目: 列「x」の値「x」が読めません (読めない行は 1 行。飛ばして、残りをすべて表示します)" << -1 << "";
        QTest::newRow("torn last row")
            << kHeader + a + b + b.left(30) << 2
            << "r.csv: 最後の行 (4 行目) が途中で切れています。記録中にロガーが止まった"
               "ようです。その前の 2 行を表示します"
            << -1 << "";
        QTest::newRow("a line of zeros past 64 KiB")
            << kHeader + a + QByteArray(70'000, '\0') + b << 1
            << "r.csv の 3 行目: 行が 65536 バイトを超えています" << -1 << "";
        QTest::newRow("two bad lines among good ones")
            << kHeader + a + "abc\r\n" + b + QByteArray(b).replace(",0,1,", ",0,x,") + a << 3
            << "r.csv の 3 行目: 列が 1 個あります (記録の行は 11 列です) (読めない行は 2 行。飛ばして、残りをすべて表示します)"
            << -1 << "";
        QTest::newRow("cut short while read")
            << kHeader + a.repeated(5) << 1
            << "r.csv: 読んでいる間にファイルが短くなりました (開いたときは 353 バイト、読めたのは 130 "
               "バイト)。その前の 1 行を表示します"
            << 130 << "";
    }
    void readRecord() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, rows);
        QFETCH(QString, problem);
        QFETCH(int, cutTo);
        QFETCH(QString, units);
        QTemporaryDir dir;
        QFile file(dir.filePath("r.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        trend::ReadControl control;
        control.chunkBytes = 61;
        control.progress = [&file, cutTo](std::uint64_t, std::uint64_t) {
            if (cutTo >= 0 && file.size() > cutTo)
                QVERIFY(QFile::resize(file.fileName(), cutTo));
        };
        const auto fromFile = trend::ReadRecord(file.fileName(), control);
        const auto fromBytes =
            trend::ReadRecordBytes({bytes.constData(), std::size_t(bytes.size())}, "r.csv");
        for (const trend::RecordRead* read : {&fromFile, &fromBytes}) {
            if (read == &fromBytes && cutTo >= 0)
                break; // the bytes themselves are whole
            QCOMPARE(read->problem, problem);
            QCOMPARE(read->trace ? int(read->trace->Size()) : 0, rows);
            QCOMPARE(read->onlyTorn, problem.contains(QStringLiteral("切れて")));
            if (!units.isEmpty())
                QCOMPARE(UnitsText(*read->trace), units);
        }
    }

    // Every record Tavrin writes is read back whole: a run of every reading (0.00 to 9.99 V on AD0, the
    // other way on AD1), a crossing, a note and a sample after it, written by the run record itself with
    // the widest scales, the longest names and units and those a spreadsheet would take for formulas
    // that the checks take, then read back.
    void everyRecordWrittenIsReadWhole_data() {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("top");      // AD0's value at 9.99 V, as the window shows it
        QTest::addColumn<QString>("readUnit"); // as the trend window shows it
        QTest::addColumn<int>("decimals");
        QTest::newRow("volts") << "0=0,1=1"
                               << "V"
                               << "AD0"
                               << "9.99"
                               << "V" << 2;
        QTest::newRow("15 digits at 9.99 V, no decimals") << "0=0,9.99=999999999999999"
                                                          << "nm"
                                                          << "Stage"
                                                          << "999999999999999"
                                                          << "nm" << 0;
        QTest::newRow("15 digits at 0 V, falling") << "0=-999999999999999,9.99=0"
                                                   << "nm"
                                                   << "Stage"
                                                   << "0"
                                                   << "nm" << 0;
        QTest::newRow("13 digits and 2 decimals") << "0=9999999999990,1=9999999999991"
                                                  << "V"
                                                  << "AD0"
                                                  << "9999999999999.99"
                                                  << "V" << 2;
        QTest::newRow("12 decimals") << "0=0,1=0.0000000001"
                                     << "V"
                                     << "AD0"
                                     << "0.000000000999"
                                     << "V" << 12;
        QTest::newRow("a unit of 64 characters")
            << "0=0,5=500" << QString(64, QChar(0x00B0)) << QString(64, 'n') << "999"
            << QString(64, QChar(0x00B0)) << 0;
        QTest::newRow("a unit beginning with =") << "0=0,1=1"
                                                 << "=SUM(A1)"
                                                 << "=x"
                                                 << "9.99"
                                                 << "=SUM(A1)" << 2;
        QTest::newRow("a unit beginning with -") << "0=0,1=1"
                                                 << "-dB"
                                                 << "AD0"
                                                 << "9.99"
                                                 << "-dB" << 2;
        QTest::newRow("a unit beginning with +") << "0=0,1=1"
                                                 << "+mA"
                                                 << "AD0"
                                                 << "9.99"
                                                 << "+mA" << 2;
        QTest::newRow("a unit beginning with @") << "0=0,1=1"
                                                 << "@V"
                                                 << "AD0"
                                                 << "9.99"
                                                 << "@V" << 2;
        QTest::newRow("a unit beginning with an apostrophe") << "0=0,1=1"
                                                             << "'ft"
                                                             << "AD0"
                                                             << "9.99"
                                                             << "'ft" << 2;
        QTest::newRow("a unit of an apostrophe and =") << "0=0,1=1"
                                                       << "'="
                                                       << "AD0"
                                                       << "9.99"
                                                       << "'=" << 2;
    }
    void everyRecordWrittenIsReadWhole() {
        QFETCH(QString, scale);
        QFETCH(QString, unit);
        QFETCH(QString, name);
        QFETCH(QString, top);
        QFETCH(QString, readUnit);
        QFETCH(int, decimals);
        channels::Channels settings = channels::DefaultChannels();
        channels::Channel& ad0 = settings[0];
        QString problem;
        // Only what the checks take.
        QVERIFY(channels::LabelOk(unit) && channels::LabelOk(name));
        const auto parsed = channels::ParseScale(scale, &problem);
        QVERIFY2(parsed, qPrintable(problem));
        ad0.scale = *parsed;
        ad0.unit = unit;
        ad0.name = name;
        settings[1].unit = unit;
        settings[1].name = name;
        QTemporaryDir dir;
        record::RunRecordFile file(dir.path());
        const QDateTime start(QDate(2026, 12, 7), QTime(9, 30), QTimeZone(9 * 3600));
        QVERIFY(file.RunStarted({start, "tavrin", "sim", settings}));
        acquisition::DecodedSample s;
        s.levels = 0x05;
        for (int h = 0; h <= 999; ++h) {
            s.elapsedMs = 100 * h;
            s.time = start.addMSecs(s.elapsedMs);
            s.x = h % 601;
            s.sweep = h / 601;
            s.ad0 = h;
            s.ad1 = 999 - h;
            s.crossings =
                h == 500 ? channels::Crossings{channels::Crossing::High, {}} : channels::Crossings{};
            QVERIFY(file.Take(s));
        }
        acquisition::DecodedSample note;
        note.time = start.addSecs(101);
        note.elapsedMs = 101'000;
        note.note = SampleNote::NoReply;
        QVERIFY(file.Take(note));
        s.time = start.addSecs(102);
        s.elapsedMs = 102'000;
        QVERIFY(file.Take(s));
        QVERIFY(file.RunEnded());

        const auto read = trend::ReadRecord(file.Path());
        QCOMPARE(read.problem, QString());
        QVERIFY(read.trace);
        QCOMPARE(int(read.trace->Size()), 1002);
        const trend::Units& units = read.trace->UnitsOf(Channel::Ad0);
        QCOMPARE(units.channel.unit, readUnit);
        QCOMPARE(read.trace->UnitsOf(Channel::Ad1).channel.unit, readUnit);
        QCOMPARE(units.decimals, decimals);
        QCOMPARE(units.Text(units.ValueOf(999)), top);
        // Written again from what was read, the rows are the record's own bytes.
        std::string written(record::kHeaderRow);
        for (std::size_t i = 0; i < read.trace->Size(); ++i)
            record::AppendRow(written, trend::SampleOf(read.trace->At(i)), read.trace->ChannelsOf());
        QFile record(file.Path());
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(QByteArray::fromStdString(written), record.readAll());
    }

    // A line left out breaks the lines drawn there, as an outage does; the rows either side stay joined
    // to their neighbours.
    void aLineLeftOutBreaksTheLines() {
        const QByteArray a = "2026-12-07T09:30:47.123+09:00,0.100,0,0,3.07,1.23,1,0,0,1,\r\n";
        const auto read = trend::ReadRecordBytes((kHeader + a + a + "abc\r\n" + a + a).toStdString(), "r.csv");
        QVERIFY(read.trace);
        QCOMPARE(read.trace->Size(), std::size_t(4));
        QList<bool> breaks;
        for (std::size_t i = 1; i < 4; ++i)
            breaks << read.trace->BreakBefore(Channel::Ad0, i);
        QCOMPARE(breaks, (QList<bool>{false, true, false}));
    }

    // Rows read back and written again are the record's own bytes: the CSV slice of a view is a record.
    void rowsWrittenBackAreTheRecords() {
        const QByteArray rows = "2026-12-07T09:30:47.123+09:00,0.100,0,0,3.07,1.23,1,0,0,1,,307,°C,1.23,V\r\n"
                                "2026-12-07T23:59:59.999-03:30,86399.999,143,600,,0.00,0,0,0,0,ad1 low,,,0.00,V\r\n"
                                "2027-01-01T00:00:00.000+00:00,90000.000,149,17,,,,,,,no frame,,,,\r\n"
                                "2028-02-29T12:00:00.005+05:45,123456.789,2000000,5,9.99,10.00,1,1,1,1,ad0 high; ad1 back,999,°C,10.00,V\r\n"
                                "2028-02-29T12:00:01.005+05:45,123457.789,2000000,6,,,,,,,unit lost,,,,\r\n"
                                "0000-02-29T00:00:00.000+00:00,123458.789,2000000,7,0.00,,1,1,0,1,ad0 back,0,°C,,\r\n";
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kUnitsHeader + rows);
        file.close();
        const auto read = trend::ReadRecord(path);
        QCOMPARE(read.problem, QString());
        QCOMPARE(read.trace->Name(), QStringLiteral("run.csv"));
        std::string written;
        for (std::size_t i = 0; i < read.trace->Size(); ++i)
            record::AppendRow(written, trend::SampleOf(read.trace->At(i)), read.trace->ChannelsOf());
        QCOMPARE(QByteArray::fromStdString(written), rows);
        // The time outside the limits, from each crossing out to its way back.
        const auto outside = [&](Channel c) {
            QList<std::size_t> rows;
            for (const trend::Outside& o : read.trace->OutsideOf(c))
                rows << o.from << o.to;
            return rows;
        };
        QCOMPARE(outside(Channel::Ad0), (QList<std::size_t>{3, 5}));
        QCOMPARE(outside(Channel::Ad1), (QList<std::size_t>{1, 3}));
        QCOMPARE(trend::ReadRecord(dir.path()).problem,
                 QFileInfo(dir.path()).fileName() + " を開けません: it is a folder, not a regular file");
    }
    // A record read while another process holds its lock, then read on as that process writes: the
    // row being written waits for its line end, a bad row is said, and what ends the following is said.
    void followsARecordBeingWritten_data() {
        QTest::addColumn<QByteArray>("then");   // written after a torn "2026-12-07T09:30:4" (line 4)
        QTest::addColumn<QString>("happens");   // and then: "truncate", "replace", "let go" of the lock
        QTest::addColumn<int>("rows");          // appended by the next ReadOn
        QTest::addColumn<int>("ending");        // RecordTail::Ending
        QTest::addColumn<QString>("said");
        const QByteArray rest = "7.323+09:00,0.300,0,2,3.09,1.25,1,0,0,1,\r\n";
        const QByteArray row = "2026-12-07T09:30:47.423+09:00,0.400,0,3,3.10,1.26,1,0,0,1,\r\n";
        using E = trend::RecordTail::Ending;
        QTest::newRow("grows") << rest + row << "" << 2 << int(E::None) << "";
        QTest::newRow("a bad row")
            << rest + "x\r\n" + row << "" << 2 << int(E::None)
            << "r.csv の 5 行目: 列が 1 個あります (記録の行は 11 列です) (読めない行は 1 行。飛ばして、残りをすべて表示します)";
        QTest::newRow("the run ends") << rest << "let go" << 1 << int(E::WriterDone) << "";
        QTest::newRow("the run ends torn")
            << QByteArray() << "let go" << 0 << int(E::WriterDone)
            << "r.csv: 最後の行 (4 行目) が途中で切れています。記録中にロガーが止まったようです。その前の 2 行を表示します";
        QTest::newRow("truncated")
            << QByteArray() << "truncate" << 0 << int(E::Truncated)
            << "r.csv: 記録ファイルが短くなりました (191 バイトから 53 バイトへ)。追従をやめます (表示している行はそのままです)";
        QTest::newRow("replaced")
            << rest << "replace" << 0 << int(E::Replaced)
            << "r.csv: 記録ファイルが消されたか、別のファイルに置き換えられました。追従をやめます (表示している行はそのままです)";
    }
    void followsARecordBeingWritten() {
        QFETCH(QByteArray, then);
        QFETCH(QString, happens);
        QFETCH(int, rows);
        QFETCH(int, ending);
        QFETCH(QString, said);
        QTemporaryDir dir;
        QFile file(dir.filePath("r.csv"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray a = "2026-12-07T09:30:47.123+09:00,0.100,0,0,3.07,1.23,1,0,0,1,\r\n";
        const QByteArray b = "2026-12-07T09:30:47.223+09:00,0.200,0,1,3.08,1.24,1,0,0,1,\r\n";
        QVERIFY(file.write(kHeader + a + b) > 0);
        QVERIFY(::flock(file.handle(), LOCK_EX) == 0); // the writer's lock
        auto read = trend::ReadRecord(file.fileName());
        QVERIFY(read.trace && read.growing);
        QCOMPARE(read.problem, QString());
        QCOMPARE(read.trace->Size(), std::size_t(2));
        trend::RecordTail tail(file.fileName(), *read.growing, *read.trace);
        QVERIFY(file.write("2026-12-07T09:30:4") > 0);
        auto step = tail.ReadOn();
        QCOMPARE(int(step.rows), 0);
        QCOMPARE(int(step.ending), int(trend::RecordTail::Ending::None));
        QVERIFY(then.isEmpty() || file.write(then) > 0);
        if (happens == QLatin1String("let go"))
            QVERIFY(::flock(file.handle(), LOCK_UN) == 0);
        if (happens == QLatin1String("truncate"))
            QVERIFY(file.resize(kHeader.size()));
        if (happens == QLatin1String("replace")) {
            QFile other(dir.filePath("other.csv"));
            QVERIFY(other.open(QIODevice::WriteOnly) && other.write(kHeader + a) > 0);
            other.close();
            QVERIFY(::rename(QFile::encodeName(other.fileName()).constData(),
                             QFile::encodeName(file.fileName()).constData()) == 0);
        }
        step = tail.ReadOn();
        QCOMPARE(int(step.rows), rows);
        QCOMPARE(int(step.ending), ending);
        QCOMPARE(step.said, said);
        QCOMPARE(read.trace->Size(), std::size_t(2 + rows));
        if (rows == 2) // the bad row breaks the line before the row after it
            QCOMPARE(read.trace->BreakBefore(Channel::Ad0, 3), !said.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TrendDataTest)
#include "trend_data_test.moc"

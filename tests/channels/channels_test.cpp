// A channel's values and the watch over its limits, on plain numbers.
#include "channels/channel.h"
#include "channels/limit_watch.h"

#include <QTest>

using channels::Channel;
using channels::Crossing;
using channels::Scale;

namespace {

Scale ScaleOf(const char* text) {
    return *channels::ParseScale(QString::fromLatin1(text));
}

// A reading that stands for the channel switched off.
constexpr int kOff = -1'000'000;

} // namespace

class ChannelsTest : public QObject {
    Q_OBJECT

private slots:
    // A reading of whole hundredths of a volt, as the record writes it in the channel's unit.
    void valuesInTheUnit_data() {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<int>("hundredths");
        QTest::addColumn<QString>("expected");
        QTest::newRow("volts") << "0=0,1=1" << 307 << "3.07";
        QTest::newRow("0-5 V is 0-500 °C") << "0=0,5=500" << 307 << "307";
        QTest::newRow("0-5 V is 0-500 °C, top") << "0=0,5=500" << 500 << "500";
        QTest::newRow("a tenth of the volts") << "0=0,1=0.1" << 307 << "0.307";
        QTest::newRow("half the volts") << "0=0,1=0.5" << 1 << "0.005";
        QTest::newRow("an offset, a quarter a step") << "1=0,5=100" << 100 << "0.0";
        QTest::newRow("4-20 mA over 250 ohm") << "1=4,5=20" << 300 << "12.00";
        QTest::newRow("falling") << "0=100,5=0" << 250 << "50.0";
        QTest::newRow("below zero") << "0=-50,5=450" << 1 << "-49";
        QTest::newRow("rounds to zero, no sign") << "0=-0.001,1=0.999" << 0 << "0.00";
        QTest::newRow("a thousand per volt") << "0=0,1=1000" << 123 << "1230";
        QTest::newRow("the largest, 15 digits") << "0=0,9.99=999999999999999" << 999 << "999999999999999";
        QTest::newRow("12 decimals") << "0=0,1=0.0000000001" << 999 << "0.000000000999";
    }
    void valuesInTheUnit() {
        QFETCH(QString, scale);
        QFETCH(int, hundredths);
        QFETCH(QString, expected);
        QCOMPARE(QString::fromStdString(channels::ValueText(ScaleOf(qPrintable(scale)), hundredths)), expected);
    }

    // Every reading of 0-5 V at 100 °C a volt is the volts times 100, exactly.
    void wholeDegreesAreExact() {
        const Scale oven = ScaleOf("0=0,5=500");
        for (int h = 0; h <= 500; ++h)
            QCOMPARE(channels::ValueText(oven, h), std::to_string(h));
    }

    void textsOfTheCommandLine_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("readBack"); // empty: refused
        QTest::newRow("scale") << "scale" << "0=0,5=500" << "0=0,5=500";
        QTest::newRow("scale with decimals and spaces") << "scale" << " 1 = 4 , 5=20.5" << "1=4,5=20.5";
        QTest::newRow("scale, one point") << "scale" << "0=0" << "";
        QTest::newRow("scale, same volts") << "scale" << "1=0,1=5" << "";
        QTest::newRow("scale, flat") << "scale" << "0=3,5=3" << "";
        QTest::newRow("scale, not a number") << "scale" << "0=0,5=hot" << "";
        QTest::newRow("scale, infinite") << "scale" << "0=0,5=inf" << "";
        QTest::newRow("scale, infinite at 9.99 V") << "scale"
                                                   << "0=0,1=1e308"
                                                   << "";
        QTest::newRow("scale, 1e100") << "scale"
                                      << "0=0,1=1e100"
                                      << "";
        QTest::newRow("scale, 1e18") << "scale"
                                     << "0=0,1=1e18"
                                     << "";
        QTest::newRow("scale, 16 digits at 9.99 V") << "scale"
                                                    << "0=0,1=1e15"
                                                    << "";
        QTest::newRow("scale, 15 digits at 9.99 V") << "scale"
                                                    << "0=0,9.99=999999999999999"
                                                    << "0=0,9.99=999999999999999";
        QTest::newRow("scale, 16 digits at 0 V") << "scale"
                                                 << "0=-1e15,1=-999999999999999"
                                                 << "";
        QTest::newRow("scale, 13 integer digits and 2 decimals") << "scale"
                                                                 << "0=9999999999990,1=9999999999991"
                                                                 << "0=9999999999990,1=9999999999991";
        QTest::newRow("scale, 14 integer digits and 2 decimals") << "scale"
                                                                 << "0=10000000000000,1=10000000000001"
                                                                 << "";
        QTest::newRow("limits") << "limits" << "100:400" << "100:400";
        QTest::newRow("limits, high only") << "limits" << ":400" << ":400";
        QTest::newRow("limits, low only, below zero") << "limits" << "-12.5:" << "-12.5:";
        QTest::newRow("limits, none") << "limits" << ":" << ":";
        QTest::newRow("limits, low above high") << "limits" << "400:100" << "";
        QTest::newRow("limits, no colon") << "limits" << "400" << "";
        QTest::newRow("limits, a word") << "limits" << "low:400" << "";
        QTest::newRow("limits, 15 digits in volts") << "limits"
                                                    << "-9999999999999:9999999999999.99"
                                                    << "-9999999999999:9999999999999.99";
        QTest::newRow("limits, 16 digits in volts") << "limits"
                                                    << ":10000000000000"
                                                    << "";
        QTest::newRow("limits, 1e308") << "limits"
                                       << "-1e308:"
                                       << "";
    }
    void textsOfTheCommandLine() {
        QFETCH(QString, option);
        QFETCH(QString, text);
        QFETCH(QString, readBack);
        QString problem;
        QString back;
        if (option == QLatin1String("scale")) {
            if (const auto scale = channels::ParseScale(text, &problem))
                back = channels::ScaleText(*scale);
        } else if (const auto limits = channels::ParseLimits(text, &problem)) {
            back = channels::LimitsText(*limits);
        }
        QCOMPARE(back, readBack);
        QCOMPARE(problem.isEmpty(), !readBack.isEmpty());
    }

    // What a number that cannot be read back exactly is refused with.
    void digitsSaid_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        QTest::newRow("infinite at 9.99 V") << "scale"
                                            << "0=0,1=1e308"
                                            << "a line whose values for readings of 0.00 V to 9.99 V stay "
                                               "below 1e+15 in size (15 digits with the "
                                               "0 decimals it needs), not one that gives inf at 9.99 V";
        QTest::newRow("too many digits at 0 V")
            << "scale"
            << "0=-1e15,1=-999999999999999"
            << "a line whose values for readings of 0.00 V to 9.99 V stay below 1e+13 in size (15 digits "
               "with the "
               "2 decimals it needs), not one that gives -1e+15 at 0.00 V";
        QTest::newRow("a limit in volts")
            << "limits"
            << "0:1e13"
            << "limits below 1e+13 in size (15 digits with the 2 decimals of the channel's scale)";
    }
    void digitsSaid() {
        QFETCH(QString, option);
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QString said;
        if (option == QLatin1String("scale"))
            QVERIFY(!channels::ParseScale(text, &said));
        else
            QVERIFY(!channels::ParseLimits(text, &said));
        QCOMPARE(said, problem);
    }

    // A limit or a hysteresis fits the channel's digits at its scale's decimals.
    void limitsFitTheScale_data() {
        QTest::addColumn<QString>("scale");
        QTest::addColumn<QString>("limits");    // as the settings file holds them
        QTest::addColumn<double>("hysteresis"); // negative: unset
        QTest::addColumn<int>("refused");       // -1 none, else 0 low, 1 high, 2 hysteresis
        QTest::newRow("oven") << "0=0,5=500"
                              << "100:400" << 3.0 << -1;
        QTest::newRow("whole degrees, 15 digits") << "0=0,5=500"
                                                  << "-999999999999999:" << -1.0 << -1;
        QTest::newRow("whole degrees, 16 digits") << "0=0,5=500"
                                                  << ":1000000000000000" << -1.0 << 1;
        QTest::newRow("1000 at 12 decimals") << "0=0,1=0.0000000001"
                                             << "1000:" << -1.0 << 0;
        QTest::newRow("999 at 12 decimals") << "0=0,1=0.0000000001"
                                            << "999:" << -1.0 << -1;
        QTest::newRow("a hysteresis of 1e13 in volts") << "0=0,1=1"
                                                       << "0:1" << 1e13 << 2;
    }
    void limitsFitTheScale() {
        QFETCH(QString, scale);
        QFETCH(QString, limits);
        QFETCH(double, hysteresis);
        QFETCH(int, refused);
        Channel channel = channels::DefaultChannel(0);
        channel.scale = ScaleOf(qPrintable(scale));
        const QStringList sides = limits.split(QLatin1Char(':'));
        if (!sides[0].isEmpty())
            channel.limits.low = sides[0].toDouble();
        if (!sides[1].isEmpty())
            channel.limits.high = sides[1].toDouble();
        if (hysteresis >= 0)
            channel.limits.hysteresis = hysteresis;
        const auto problem = channels::LimitsDigitsProblem(channel);
        QCOMPARE(problem ? int(problem->what) : -1, refused);
        QString said;
        QCOMPARE(channels::ParseLimits(limits, &said, channel.scale).has_value(),
                 refused < 0 || refused == 2);
    }

    // A channel's name or unit: not empty, 64 characters at most, no comma, quote or control character.
    void labels_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::newRow("a name") << "Oven 1" << true;
        QTest::newRow("degrees") << "°C" << true;
        QTest::newRow("spaces around") << "  in Hg " << true;
        QTest::newRow("64 characters") << QString(64, QChar(0x6E29)) << true;
        QTest::newRow("64 characters beyond the BMP")
            << QString::fromUcs4(std::u32string(64, U'\U0001D4B3').c_str()) << true;
        QTest::newRow("65 characters") << QString(65, QLatin1Char('x')) << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("blank") << "   " << false;
        QTest::newRow("a comma") << "a,b" << false;
        QTest::newRow("a quote") << "in \"Hg\"" << false;
        QTest::newRow("a line feed") << "a\nb" << false;
        QTest::newRow("a carriage return") << "a\rb" << false;
        QTest::newRow("a tab") << "a\tb" << false;
        QTest::newRow("a tab at the end") << "ab\t" << false;
        QTest::newRow("NUL") << QString::fromUtf16(u"a\0b", 3) << false;
        QTest::newRow("\\x01") << "a\x01" << false;
        QTest::newRow("ESC") << "\x1b[31m" << false;
        QTest::newRow("DEL") << "a\x7f" << false;
        QTest::newRow("U+0080") << QString::fromUtf16(u"a\u0080") << false;
        QTest::newRow("U+0085") << QString::fromUtf16(u"a\u0085b") << false;
        QTest::newRow("U+009F") << QString::fromUtf16(u"a\u009f") << false;
        QTest::newRow("U+00A0 is a character") << QString::fromUtf16(u"a\u00a0b") << true;
        QTest::newRow("U+2028") << QString::fromUtf16(u"a\u2028b") << false;
        QTest::newRow("U+2029") << QString::fromUtf16(u"a\u2029b") << false;
        QTest::newRow("a formula") << "=1+1" << true;
    }
    void labels() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QCOMPARE(channels::LabelOk(text), ok);
    }

    // A run of readings (hundredths of a volt, 1 s apart) against limits, and the crossings it makes.
    void crossings_data() {
        QTest::addColumn<QString>("limits");
        QTest::addColumn<double>("holdS");
        QTest::addColumn<QList<int>>("readings");
        QTest::addColumn<QString>("expected"); // "-" no crossing, else h/l/b per reading
        QTest::addColumn<int>("outsideS");
        // 0-5 V is 0-500 °C: the hysteresis is 1% of 300 °C, 3 °C.
        QTest::newRow("out and back") << "100:400" << 0.0 << QList<int>{300, 401, 402, 398, 397} << "-h--b" << 3;
        QTest::newRow("on the limit is inside") << "100:400" << 0.0 << QList<int>{400, 100, 400} << "---" << 0;
        QTest::newRow("hysteresis keeps it out") << "100:400" << 0.0 << QList<int>{401, 398, 399, 401, 398}
                                                 << "h----" << 4;
        QTest::newRow("low, then high at once") << "100:400" << 0.0 << QList<int>{99, 450, 200} << "lhb" << 2;
        QTest::newRow("the hold is waited") << "100:400" << 2.0 << QList<int>{401, 401, 401, 401, 300}
                                            << "--h-b" << 2;
        QTest::newRow("a spike shorter than the hold") << "100:400" << 2.0 << QList<int>{401, 401, 300, 401, 300}
                                                       << "-----" << 0;
        QTest::newRow("high only, 1% of 400") << ":400" << 0.0 << QList<int>{401, 397, 396} << "h-b" << 2;
        QTest::newRow("low only at zero: one step") << "0:" << 0.0 << QList<int>{-1, 0, 1} << "l-b" << 2;
        QTest::newRow("no limits") << ":" << 0.0 << QList<int>{-500, 900} << "--" << 0;
        QTest::newRow("still out at the end") << "100:400" << 0.0 << QList<int>{300, 401, 500} << "-h-" << 1;
        // kOff: the channel's box unticked at that sample.
        QTest::newRow("switched off while out, then on and still out")
            << "100:400" << 0.0 << QList<int>{300, 401, 402, kOff, 402} << "-h--h" << 2;
        QTest::newRow("switched off while out: the time outside stops")
            << "100:400" << 0.0 << QList<int>{300, 401, kOff, kOff} << "-h--" << 1;
        QTest::newRow("switched off during the hold: the hold starts again")
            << "100:400" << 2.0 << QList<int>{401, 401, kOff, 401, 401, 401} << "-----h" << 0;
    }
    void crossings() {
        QFETCH(QString, limits);
        QFETCH(double, holdS);
        QFETCH(QList<int>, readings);
        QFETCH(QString, expected);
        QFETCH(int, outsideS);
        Channel oven = channels::DefaultChannel(0);
        oven.scale = ScaleOf("0=0,5=500");
        oven.limits = *channels::ParseLimits(limits);
        oven.limits.holdS = holdS;
        channels::LimitWatch watch;
        watch.Reset(oven);
        QString made;
        for (int i = 0; i < readings.size(); ++i) {
            if (readings[i] == kOff) {
                watch.SwitchedOff(1000LL * i);
                QVERIFY(watch.Now() == channels::LimitWatch::State::Inside);
                made += QLatin1Char('-');
                continue;
            }
            const auto crossing = watch.Take(readings[i], 1000LL * i);
            made += !crossing ? QLatin1Char('-') : QLatin1Char(channels::CrossingWord(*crossing)[0]);
        }
        QCOMPARE(made, expected);
        QCOMPARE(watch.OutsideMs(1000LL * (readings.size() - 1)), 1000LL * outsideS);
        // A reading that is not there changes nothing.
        QVERIFY(!watch.Take(std::nullopt, 99'000));
    }

    void notesReadBack_data() {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one") << "ad0 high" << "0h";
        QTest::newRow("two") << "ad0 back; ad1 low" << "0b1l";
        QTest::newRow("a note of its own") << "unit lost" << "";
        QTest::newRow("no channel 2") << "ad2 high" << "";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("a crossing and something else") << "ad0 high; hot" << "";
    }
    void notesReadBack() {
        QFETCH(QString, note);
        QFETCH(QString, expected);
        QString made;
        const std::string text = note.toStdString();
        for (const auto& [channel, crossing] : channels::ParseNotes(text))
            made += QString::number(channel) + QLatin1Char(channels::CrossingWord(crossing)[0]);
        QCOMPARE(made, expected);
    }

    void linesSaid() {
        Channel oven = channels::DefaultChannel(0);
        oven.name = QStringLiteral("Oven");
        oven.unit = QStringLiteral("°C");
        oven.scale = ScaleOf("0=0,5=500");
        oven.limits = *channels::ParseLimits(QStringLiteral("100:400"));
        QCOMPARE(channels::CrossingLine(0, oven, Crossing::High, 412),
                 QStringLiteral("ad0 (Oven) high: 412 °C, above the high limit of 400 °C"));
        QCOMPARE(channels::CrossingLine(0, oven, Crossing::Back, 396),
                 QStringLiteral("ad0 (Oven) back: 396 °C, back inside 100 °C to 400 °C"));
        QCOMPARE(channels::OutsideLine(0, oven, 3'723'400),
                 QStringLiteral("ad0 (Oven) was outside its limits for 1 h 02 min 03 s in all"));
        QCOMPARE(channels::DurationText(12'345), QStringLiteral("12.3 s"));
    }
};

QTEST_GUILESS_MAIN(ChannelsTest)
#include "channels_test.moc"

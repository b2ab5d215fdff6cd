#include "output/log/shift_jis.h"

#include <QRandomGenerator>
#include <QTest>

using output::DecodeShiftJis;
using output::EncodeShiftJis;
using namespace Qt::StringLiterals;

namespace {

QString Raw(std::initializer_list<int> bytes) {
    QString text;
    for (int b : bytes)
        text += QChar(char16_t(output::kRawByteBase + b));
    return text;
}

QByteArray Bytes(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

} // namespace

class ShiftJisTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(output::ShiftJisTablesComplete(), "the system's CP932 converter is missing");
    }

    void roundTripsEveryOneAndTwoByteString() {
        for (int a = 0; a < 256; ++a) {
            const QByteArray one(1, char(a));
            QCOMPARE(EncodeShiftJis(DecodeShiftJis(one)), one);
            for (int b = 0; b < 256; ++b) {
                const QByteArray two = Bytes({a, b});
                const QByteArray back = EncodeShiftJis(DecodeShiftJis(two));
                if (back != two)
                    QFAIL(qPrintable(QStringLiteral("%1 %2 came back as %3")
                                         .arg(a, 2, 16)
                                         .arg(b, 2, 16)
                                         .arg(QString::fromLatin1(back.toHex(' ')))));
            }
        }
    }

    void roundTripsRandomStrings_data() {
        QTest::addColumn<bool>("edgeBytesOnly");
        QTest::newRow("any bytes") << false;
        // Lead bytes, trail bytes, invalid bytes and line ends, so that pairs form and break often.
        QTest::newRow("edge bytes") << true;
    }
    void roundTripsRandomStrings() {
        QFETCH(bool, edgeBytesOnly);
        static const QByteArray edge =
            Bytes({0x00, 0x0A, 0x0D, 0x40, 0x5C, 0x7E, 0x7F, 0x80, 0x81, 0x87, 0x9F,
                   0xA0, 0xA1, 0xDF, 0xE0, 0xED, 0xEE, 0xF0, 0xFA, 0xFC, 0xFD, 0xFF});
        QRandomGenerator random(20240601);
        for (int round = 0; round < 20000; ++round) {
            QByteArray bytes(random.bounded(3, 65), '\0');
            for (char& b : bytes)
                b = edgeBytesOnly ? edge[random.bounded(edge.size())] : char(random.bounded(256));
            const QByteArray back = EncodeShiftJis(DecodeShiftJis(bytes));
            if (back != bytes)
                QFAIL(qPrintable(
                    QStringLiteral("%1 came back as %2")
                        .arg(QString::fromLatin1(bytes.toHex(' ')), QString::fromLatin1(back.toHex(' ')))));
        }
    }

    void decodes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("reply with CR LF") << QByteArray("A0 123 456\r\n") << u"A0 123 456\r\n"_s;
        QTest::newRow("control bytes")
            << Bytes({0x09, 0x01, 0x1F, 0x00, 0x7F}) << QStringView(u"\t\x01\x1F\0\x7F", 5).toString();
        QTest::newRow("backslash and tilde") << QByteArray("\\~") << u"\\~"_s;
        QTest::newRow("reading data")
            << QByteArray::fromHex("8366815b835e93c782dd8d9e82dd9286") << u"データ読み込み中"_s;
        QTest::newRow("multiplication sign") << Bytes({0x81, 0x7E}) << u"×"_s;
        QTest::newRow("halfwidth katakana ends") << Bytes({0xA1, 0xB1, 0xDF}) << u"｡ｱﾟ"_s;
        QTest::newRow("user-defined area") << Bytes({0xF0, 0x40}) << QString(QChar(0xE000));
        QTest::newRow("0x80") << Bytes({0x80}) << Raw({0x80});
        QTest::newRow("0xA0") << Bytes({0xA0}) << Raw({0xA0});
        QTest::newRow("0xFD..0xFF") << Bytes({0xFD, 0xFE, 0xFF}) << Raw({0xFD, 0xFE, 0xFF});
        QTest::newRow("lone lead byte at the end") << Bytes({'A', 0x82}) << u"A"_s + Raw({0x82});
        QTest::newRow("lead byte before LF") << Bytes({0x82, 0x0A}) << Raw({0x82}) + u"\n"_s;
        QTest::newRow("unassigned pair") << Bytes({0x85, 0x40}) << Raw({0x85, 0x40});
        // Characters the code page holds twice are written with their usual bytes, so the
        // other spelling is carried raw to keep the bytes.
        QTest::newRow("NEC duplicate of approx-equal") << Bytes({0x87, 0x90}) << Raw({0x87, 0x90});
        QTest::newRow("NEC-selected IBM duplicate") << Bytes({0xED, 0x40}) << Raw({0xED, 0x40});
        QTest::newRow("IBM extension kept") << Bytes({0xFA, 0x5C}) << u"纊"_s;
    }
    void decodes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(DecodeShiftJis(bytes), text);
    }

    void leadBytesTakeTheirTrail_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<bool>("lead");
        QTest::newRow("0x7F..0x80") << 0x7F << 0x80 << false;
        QTest::newRow("0x81..0x9F") << 0x81 << 0x9F << true;
        QTest::newRow("0xA0..0xDF") << 0xA0 << 0xDF << false;
        QTest::newRow("0xE0..0xFC") << 0xE0 << 0xFC << true;
        QTest::newRow("0xFD..0xFF") << 0xFD << 0xFF << false;
    }
    void leadBytesTakeTheirTrail() {
        // A lead byte and "@" are one pair: a character, or both bytes raw; never "@" on its own.
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(bool, lead);
        for (int b = first; b <= last; ++b)
            QVERIFY2(DecodeShiftJis(Bytes({b, 0x40})).endsWith(u'@') != lead,
                     qPrintable(QString::number(b, 16)));
    }

    void encodes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("decodesBack");
        QTest::newRow("ascii header")
            << u"SamplingTime = 10* 0.1S"_s << QByteArray("SamplingTime = 10* 0.1S") << true;
        QTest::newRow("japanese") << u"データ読み込み中"_s
                                  << QByteArray::fromHex("8366815b835e93c782dd8d9e82dd9286") << true;
        QTest::newRow("approx-equal, usual spelling") << u"≒"_s << Bytes({0x81, 0xE0}) << true;
        QTest::newRow("raw bytes") << Raw({0xFF, 0x80, 0x00}) << Bytes({0xFF, 0x80, 0x00}) << false;
        QTest::newRow("euro sign") << u"a€b"_s << QByteArray("a&#x20AC;b") << false;
        QTest::newRow("yen sign is not a backslash") << u"¥"_s << QByteArray("&#xA5;") << false;
        QTest::newRow("emoji") << u"😀"_s << QByteArray("&#x1F600;") << false;
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("&#xD800;") << false;
        QTest::newRow("empty") << QString() << QByteArray() << true;
    }
    void encodes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, decodesBack);
        QCOMPARE(EncodeShiftJis(text), bytes);
        if (decodesBack)
            QCOMPARE(DecodeShiftJis(bytes), text);
    }

    void everyDecodedCharacterEncodesBack() {
        // Halfwidth katakana and the whole double-byte area: text that came from the unit or a
        // file can be edited and saved without turning into references.
        QString all;
        for (int b = 0xA1; b <= 0xDF; ++b)
            all += DecodeShiftJis(Bytes({b}));
        for (int lead = 0x81; lead <= 0xFC; ++lead)
            for (int trail = 0x40; trail <= 0xFC; ++trail)
                all += DecodeShiftJis(Bytes({lead, trail}));
        QVERIFY(!EncodeShiftJis(all).contains("&#x"));
    }
};

QTEST_APPLESS_MAIN(ShiftJisTest)
#include "shift_jis_test.moc"

#include "codec/hex_digits.h"

#include <QTest>

using codec::ByteToHex;
using codec::HexDigits;
using codec::HexDigitValue;

class HexDigitsTest : public QObject {
    Q_OBJECT

private slots:
    void DigitValue_data() {
        QTest::addColumn<quint8>("ch");
        QTest::addColumn<quint8>("value");
        QTest::newRow("0") << quint8('0') << quint8(0);
        QTest::newRow("9") << quint8('9') << quint8(9);
        QTest::newRow("A") << quint8('A') << quint8(10);
        QTest::newRow("F") << quint8('F') << quint8(15);
        QTest::newRow("lowercase a") << quint8('a') << quint8(42);
        QTest::newRow("lowercase f") << quint8('f') << quint8(47);
        QTest::newRow("G") << quint8('G') << quint8(16);
        QTest::newRow("colon, just above 9") << quint8(':') << quint8(3);
        QTest::newRow("slash, below 0") << quint8('/') << quint8(0xFF);
        QTest::newRow("zero byte") << quint8(0x00) << quint8(0xD0);
        QTest::newRow("missing byte") << quint8(0xFF) << quint8(0xC8);
    }
    void DigitValue() {
        QFETCH(quint8, ch);
        QFETCH(quint8, value);
        QCOMPARE(HexDigitValue(ch), value);
    }

    void ByteDigits_data() {
        QTest::addColumn<quint8>("byte");
        QTest::addColumn<QByteArray>("digits");
        QTest::newRow("zero") << quint8(0x00) << QByteArray("00");
        QTest::newRow("nine") << quint8(0x09) << QByteArray("09");
        QTest::newRow("ten") << quint8(0x0A) << QByteArray("0A");
        QTest::newRow("high letter") << quint8(0xA0) << QByteArray("A0");
        QTest::newRow("mixed") << quint8(0x3C) << QByteArray("3C");
        QTest::newRow("7F") << quint8(0x7F) << QByteArray("7F");
        QTest::newRow("all ones") << quint8(0xFF) << QByteArray("FF");
    }
    void ByteDigits() {
        QFETCH(quint8, byte);
        QFETCH(QByteArray, digits);
        const HexDigits pair = ByteToHex(byte);
        QCOMPARE(QByteArray().append(char(pair.hi)).append(char(pair.lo)), digits);
    }

    // Every byte written must read back as itself.
    void EveryByteReadsBack() {
        for (int b = 0; b <= 0xFF; ++b) {
            const HexDigits pair = ByteToHex(quint8(b));
            QCOMPARE(quint8(HexDigitValue(pair.hi) * 16 + HexDigitValue(pair.lo)), quint8(b));
        }
    }
};

QTEST_GUILESS_MAIN(HexDigitsTest)
#include "hex_digits_test.moc"

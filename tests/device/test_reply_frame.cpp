// The reply frame: where the marker may stand and how readings are made.
#include "device/unit_protocol.h"
#include "device/unit_model.h"

#include <QTest>
#include <cstring>

using device::RxBufferBytes;

namespace {
RxBufferBytes Buffer(const QByteArray& bytes) {
    RxBufferBytes rx{};
    std::memcpy(rx.data(), bytes.constData(), std::size_t(std::min<qsizetype>(bytes.size(), 255)));
    return rx;
}
} // namespace

class TestReplyFrame : public QObject {
    Q_OBJECT

private slots:
    void marker_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("expected");   // -1: no frame
        QTest::newRow("at 0") << QByteArray("AD0=123") << 0;
        QTest::newRow("at 49") << QByteArray(49, '.') + "A" << 49;
        QTest::newRow("at 50 rejected") << QByteArray(50, '.') + "A" << -1;
        QTest::newRow("none") << QByteArray("no marker here") << -1;
        QTest::newRow("empty buffer") << QByteArray() << -1;
        QTest::newRow("first A wins") << QByteArray("xxA....AD0=123") << 2;
        QTest::newRow("lowercase a is not a marker") << QByteArray("aaaA") << 3;
    }
    void marker() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, expected);
        const auto k = device::FindMarker(Buffer(bytes));
        QCOMPARE(k.value_or(-1), expected);
    }

    void readings_data() {
        QTest::addColumn<QByteArray>("digits");
        QTest::addColumn<int>("reading");
        QTest::newRow("000") << QByteArray("000") << 0;
        QTest::newRow("123") << QByteArray("123") << 123;
        QTest::newRow("600") << QByteArray("600") << 600;
        QTest::newRow("999") << QByteArray("999") << 999;
        QTest::newRow("1A0") << QByteArray("1A0") << 200;
        QTest::newRow("past the received bytes") << QByteArray() << 100 * 208 + 10 * 208 + 208;
        QTest::newRow("blank") << QByteArray("  0") << 100 * 240 + 10 * 240;
        QTest::newRow("slash") << QByteArray("//0") << 100 * 255 + 10 * 255;
    }
    void readings() {
        QFETCH(QByteArray, digits);
        QFETCH(int, reading);
        for (int offset : {device::kAd0Offset, device::kAd1Offset}) {
            QByteArray frame = "A" + QByteArray(offset - 1, '.') + digits;
            QCOMPARE(int(device::ReadingAt(Buffer(frame), 0, offset)), reading);
        }
    }

    void offsetsCountFromTheMarker() {
        const RxBufferBytes rx = Buffer("zzz" + QByteArray::fromStdString(device::UnitModel::Frame(123, 456, 0x9)));
        const int k = *device::FindMarker(rx);
        QCOMPARE(k, 3);
        QCOMPARE(int(device::ReadingAt(rx, k, device::kAd0Offset)), 123);
        QCOMPARE(int(device::ReadingAt(rx, k, device::kAd1Offset)), 456);
        QCOMPARE(int(device::StatusAt(rx, k) & 0x0F), 0x9);
    }

    void unitFramesFollowTheLayout() {
        for (unsigned n = 0; n < 500; ++n) {
            const std::string reply = device::UnitModel().ReplyFor(n);
            QCOMPARE(reply.size(), std::size_t(21));
            QVERIFY(reply.ends_with("\r\n"));
            const RxBufferBytes rx = Buffer(QByteArray::fromStdString(reply));
            QCOMPARE(device::FindMarker(rx).value_or(-1), 0);
            const auto ad0 = device::ReadingAt(rx, 0, device::kAd0Offset);
            const auto ad1 = device::ReadingAt(rx, 0, device::kAd1Offset);
            QCOMPARE(ad0, device::UnitModel::Ad0(n));
            QCOMPARE(ad1, device::UnitModel::Ad1(n));
            QVERIFY(ad0 >= 50 && ad0 <= 550);
            QVERIFY(ad1 <= 600);
            QCOMPARE(device::StatusAt(rx, 0) & 0x0F, device::UnitModel::DigitalLines(n));
        }
    }
};

QTEST_GUILESS_MAIN(TestReplyFrame)
#include "test_reply_frame.moc"

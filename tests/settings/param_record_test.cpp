#include "settings/kept_settings.h"
#include "settings/param_record.h"

#include <QTest>

using namespace settings;

namespace {

constexpr OptionStates kWindowOptions = {true, true, false, true, false, false};

enum EncodedField { kAd0Field, kAd1Field, kTimeField, kAd0BoxField, kAutoPrintBoxField };

QByteArray Bytes(const ParamRecord& record) {
    return QByteArray(reinterpret_cast<const char*>(record.data()), kRecordSize);
}

QByteArray OptionText(const ParamRecord& record) {
    QByteArray text;
    for (int option = 0; option < kOptionCount; ++option)
        text += DecodeOption(record, option) ? '1' : '0';
    return text;
}

// File contents: the given text, then zero bytes up to the full record.
QByteArray Padded(const char* text) {
    QByteArray contents(text);
    contents.append(kRecordSize - contents.size(), '\0');
    return contents;
}

} // namespace

class ParamRecordTest : public QObject {
    Q_OBJECT

private slots:
    void StartupRecordLayout() {
        const ParamRecord record = StartupRecord(clGreen, clOlive, 10, kWindowOptions);
        QCOMPARE(Bytes(record), Padded("1008000008080000A110100"));
    }

    // A newly created file must load as the settings it was created with.
    void StartupRecordLoadsAsCreated_data() {
        QTest::addColumn<TColor>("ad0");
        QTest::addColumn<TColor>("ad1");
        QTest::addColumn<quint16>("samplingTime");
        QTest::addColumn<QByteArray>("options");
        QTest::newRow("window defaults") << clGreen << clOlive << quint16(10) << QByteArray("110100");
        QTest::newRow("bounds") << clWhite << clBlack << quint16(600) << QByteArray("111111");
        QTest::newRow("minimum") << clRed << clBlue << quint16(1) << QByteArray("000000");
        QTest::newRow("sixteen-bit time") << clFuchsia << clSilver << quint16(65535) << QByteArray("010101");
    }
    void StartupRecordLoadsAsCreated() {
        QFETCH(TColor, ad0);
        QFETCH(TColor, ad1);
        QFETCH(quint16, samplingTime);
        QFETCH(QByteArray, options);
        OptionStates ticked{};
        for (int option = 0; option < kOptionCount; ++option)
            ticked[option] = options[option] == '1';
        const QByteArray file = Bytes(StartupRecord(ad0, ad1, samplingTime, ticked));
        const ParamRecord loaded = RecordFromFileContents(file);
        QCOMPARE(DecodeColor(loaded, kAd0ColorByte), ad0);
        QCOMPARE(DecodeColor(loaded, kAd1ColorByte), ad1);
        QCOMPARE(DecodeSamplingTime(loaded), samplingTime);
        QCOMPARE(OptionText(loaded), options);
        QCOMPARE(loaded[kMarkerByte], kCreatedMarker);
        QCOMPARE(file.mid(23), QByteArray(7, '\0'));
    }

    void FileContents_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("record");
        const QByteArray missing(kRecordSize, '\xFF');
        const QByteArray full = Padded("1008000008080000A110100");
        QTest::newRow("empty") << QByteArray() << missing;
        QTest::newRow("short") << QByteArray("1FF") << QByteArray("1FF") + missing.left(27);
        QTest::newRow("one short") << full.left(29) << full.left(29) + '\xFF';
        QTest::newRow("exact") << full << full;
        QTest::newRow("longer") << full + "123456" << full;
    }
    void FileContents() {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, record);
        QCOMPARE(Bytes(RecordFromFileContents(contents)), record);
    }

    void Decode_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<TColor>("ad0");
        QTest::addColumn<TColor>("ad1");
        QTest::addColumn<quint16>("samplingTime");
        QTest::addColumn<QByteArray>("options");
        const auto row = [](const char* name, const QByteArray& contents, TColor ad0, TColor ad1,
                            quint16 samplingTime, const char* options) {
            QTest::newRow(name) << contents << ad0 << ad1 << samplingTime << QByteArray(options);
        };
        row("example", Padded("1008000008080000A110100"), 0x008000, 0x008080, 10, "110100");
        row("every digit", Padded("1123456ABCDEF0258001011"), 0x123456, 0xABCDEF, 600, "001011");
        // Missing bytes are 0xFF; a pair of them is 0x148 as a colour's first pair, 0x48 elsewhere.
        row("empty file", QByteArray(), 0x1484848, 0x1484848, 0x4848, "000000");
        row("short file", QByteArray("10000FF"), 0x0000FF, 0x1484848, 0x4848, "000000");
        row("cut after the time", QByteArray("1008000008080000A11"), 0x008000, 0x008080, 10, "110000");
        row("cut inside the time", QByteArray("1008000008080000"), 0x008000, 0x008080, 0xC8, "000000");
        // A zero byte reads as 0xD0, so a record of zero bytes loads as grey and 53456.
        row("zero bytes", Padded("1"), 0xD0D0D0, 0xD0D0D0, 53456, "000000");
        row("lowercase digits", Padded("10a0a0a00000a000a111111"), 0x2A2A2A, 0x00002A, 0x2A, "111111");
        // The first pair of a colour keeps its carry: 0xF0 + 0x2F.
        row("lowercase first pair", Padded("1ff0000ff0000ffff"), 0x11F0000, 0x11F0000, 0x1F1F, "000000");
        row("time above range", Padded("1000000000000FFFF"), 0, 0, 65535, "000000");
        row("options other than 1", Padded("1008000008080000A1 0x2\xFF"), 0x008000, 0x008080, 10, "100000");
        row("marker X", Padded("X008000008080000A110100"), 0x008000, 0x008080, 10, "110100");
        row("marker zero byte", QByteArray(1, '\0') + Padded("008000008080000A110100").left(29), 0x008000,
            0x008080, 10, "110100");
        row("marker 0xFF", QByteArray(1, '\xFF') + Padded("008000008080000A110100").left(29), 0x008000,
            0x008080, 10, "110100");
    }
    void Decode() {
        QFETCH(QByteArray, contents);
        QFETCH(TColor, ad0);
        QFETCH(TColor, ad1);
        QFETCH(quint16, samplingTime);
        QFETCH(QByteArray, options);
        const ParamRecord record = RecordFromFileContents(contents);
        QCOMPARE(DecodeColor(record, kAd0ColorByte), ad0);
        QCOMPARE(DecodeColor(record, kAd1ColorByte), ad1);
        QCOMPARE(DecodeSamplingTime(record), samplingTime);
        QCOMPARE(OptionText(record), options);
        // The settings model the window and a headless run load spells the same.
        const KeptSettings kept = DecodeSettings(record);
        QCOMPARE(kept.ad0Color, ad0);
        QCOMPARE(kept.ad1Color, ad1);
        QCOMPARE(kept.samplingTime, samplingTime);
        QByteArray keptOptions;
        for (int option = 0; option < kOptionCount; ++option)
            keptOptions += kept.Option(option) ? '1' : '0';
        QCOMPARE(keptOptions, options);
    }

    // Each encoder writes its own bytes and nothing else.
    void Encode_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QByteArray>("record");
        const QByteArray blank(kRecordSize, '.');
        const auto place = [&](int at, const char* text) {
            return QByteArray(blank).replace(at, int(qstrlen(text)), text);
        };
        QTest::newRow("red as AD0") << int(kAd0Field) << quint32(clRed) << place(1, "0000FF");
        QTest::newRow("red as AD1") << int(kAd1Field) << quint32(clRed) << place(7, "0000FF");
        QTest::newRow("blue as AD0") << int(kAd0Field) << quint32(clBlue) << place(1, "FF0000");
        QTest::newRow("olive as AD1") << int(kAd1Field) << quint32(clOlive) << place(7, "008080");
        QTest::newRow("letters uppercase") << int(kAd0Field) << quint32(0xABCDEF) << place(1, "ABCDEF");
        QTest::newRow("bits above 24 dropped") << int(kAd0Field) << quint32(0x1484848) << place(1, "484848");
        QTest::newRow("time 10") << int(kTimeField) << quint32(10) << place(13, "000A");
        QTest::newRow("time 600") << int(kTimeField) << quint32(600) << place(13, "0258");
        QTest::newRow("time 65535") << int(kTimeField) << quint32(65535) << place(13, "FFFF");
        QTest::newRow("AD0 box ticked") << int(kAd0BoxField) << quint32(1) << place(17, "1");
        QTest::newRow("auto print unticked") << int(kAutoPrintBoxField) << quint32(0) << place(22, "0");
    }
    void Encode() {
        QFETCH(int, field);
        QFETCH(quint32, value);
        QFETCH(QByteArray, record);
        ParamRecord encoded;
        encoded.fill('.');
        switch (field) {
        case kAd0Field:
            EncodeColor(encoded, kAd0ColorByte, value);
            break;
        case kAd1Field:
            EncodeColor(encoded, kAd1ColorByte, value);
            break;
        case kTimeField:
            EncodeSamplingTime(encoded, quint16(value));
            break;
        case kAd0BoxField:
            EncodeOption(encoded, kAd0TraceOption, value != 0);
            break;
        case kAutoPrintBoxField:
            EncodeOption(encoded, kAutoPrintOption, value != 0);
            break;
        }
        QCOMPARE(Bytes(encoded), record);
    }

    // Ticking a box and unticking it again leaves its byte as it was.
    void OptionToggleRestoresByte() {
        ParamRecord record = StartupRecord(clGreen, clOlive, 10, kWindowOptions);
        const ParamRecord before = record;
        for (int option = 0; option < kOptionCount; ++option) {
            EncodeOption(record, option, !kWindowOptions[option]);
            QCOMPARE(DecodeOption(record, option), !kWindowOptions[option]);
            EncodeOption(record, option, kWindowOptions[option]);
        }
        QCOMPARE(Bytes(record), Bytes(before));
    }
};

QTEST_GUILESS_MAIN(ParamRecordTest)
#include "param_record_test.moc"

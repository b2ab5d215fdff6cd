#include "output/log/log_store.h"

#include <QTest>

using output::LogStore;
using namespace Qt::StringLiterals;

namespace {

QByteArrayList Lines(const LogStore& store) {
    QByteArrayList lines;
    for (qsizetype i = 0; i < store.LineCount(); ++i)
        lines.append(store.LineBytes(i));
    return lines;
}

LogStore StoreOf(const QByteArrayList& lines) {
    LogStore store;
    store.Clear();
    for (const QByteArray& line : lines)
        store.AppendBytes(line);
    return store;
}

} // namespace

class LogStoreTest : public QObject {
    Q_OBJECT

private slots:
    void newStoreHoldsOneEmptyLine() {
        const LogStore store;
        QCOMPARE(store.LineCount(), 1);
        QCOMPARE(store.LineBytes(0), QByteArray());
        QCOMPARE(store.FileBytes(), QByteArray("\r\n"));
    }

    void clearLeavesNoLines() {
        LogStore store;
        store.AppendBytes("A0 123\r\n");
        store.Clear();
        QCOMPARE(store.LineCount(), 0);
        QCOMPARE(store.FileBytes(), QByteArray());
    }

    void setSingleLineReplacesEverything() {
        LogStore store = StoreOf({"one", "two", "three"});
        store.SetSingleLine("FT123456");
        QCOMPARE(Lines(store), QByteArrayList{"FT123456"});
        // From the store's own bytes, which the call must not lose on the way.
        store = StoreOf({"first", "second"});
        store.SetSingleLine(store.LineView(1));
        QCOMPARE(Lines(store), QByteArrayList{"second"});
    }

    void fileBytes_data() {
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("no lines") << QByteArrayList{} << QByteArray();
        QTest::newRow("empty lines") << QByteArrayList{"", ""} << QByteArray("\r\n\r\n");
        QTest::newRow("header and replies keep their own CR LF")
            << QByteArrayList{"FileName = tavrin0", "A0 123 456 789 012 3\r\n", "A1\r\n"}
            << QByteArray("FileName = tavrin0\r\nA0 123 456 789 012 3\r\n\r\nA1\r\n\r\n");
        QTest::newRow("zero byte stored as given")
            << QByteArrayList{QByteArray("A\0B", 3)} << QByteArray("A\0B\r\n", 5);
        QTest::newRow("bytes outside the code page")
            << QByteArrayList{"\xFF\x80\xA0", "\x82"} << QByteArray("\xFF\x80\xA0\r\n\x82\r\n");
    }
    void fileBytes() {
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, file);
        QCOMPARE(StoreOf(lines).FileBytes(), file);
    }

    void appendTextEncodes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("sampling time")
            << u"SamplingTime = 10* 0.1S"_s << QByteArray("SamplingTime = 10* 0.1S");
        QTest::newRow("japanese base name") << u"FileName = 測定0"_s
                                            << QByteArray("FileName = \x91\xaa\x92\xe8"
                                                          "0");
        QTest::newRow("emoji kept as a reference")
            << u"FileName = 😀0"_s << QByteArray("FileName = &#x1F600;0");
    }
    void appendTextEncodes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        LogStore store;
        store.AppendText(text);
        QCOMPARE(Lines(store), (QByteArrayList{"", bytes}));
        if (!bytes.contains("&#x"))
            QCOMPARE(store.LineText(1), text);
    }

    void edits_data() {
        QTest::addColumn<QByteArrayList>("before");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArrayList>("after");
        const QByteArrayList abc{"a", "b", "c"};
        QTest::newRow("replace longer")
            << abc << "replace" << 1 << u"bbbb"_s << QByteArrayList{"a", "bbbb", "c"};
        QTest::newRow("replace shorter")
            << QByteArrayList{"a", "bbbb"} << "replace" << 1 << u"b"_s << QByteArrayList{"a", "b"};
        QTest::newRow("replace with nothing")
            << abc << "replace" << 0 << QString() << QByteArrayList{"", "b", "c"};
        QTest::newRow("insert first") << abc << "insert" << 0 << u"z"_s << QByteArrayList{"z", "a", "b", "c"};
        QTest::newRow("insert after last")
            << abc << "insert" << 3 << u"z"_s << QByteArrayList{"a", "b", "c", "z"};
        QTest::newRow("insert into empty")
            << QByteArrayList{} << "insert" << 0 << u"z"_s << QByteArrayList{"z"};
        QTest::newRow("remove middle") << abc << "remove" << 1 << QString() << QByteArrayList{"a", "c"};
        QTest::newRow("remove only") << QByteArrayList{"a"} << "remove" << 0 << QString() << QByteArrayList{};
        QTest::newRow("replace keeps raw bytes") << QByteArrayList{"\xFF"
                                                                   "A"}
                                                 << "replace" << 0 << QString(QChar(0xF7FF)) + u"AB"_s
                                                 << QByteArrayList{"\xFF"
                                                                   "AB"};
        // "replace N": N lines from `line` become the lines of `text`.
        QTest::newRow("replace lines by more")
            << abc << "replace 1" << 1 << u"x\ny\nz"_s << QByteArrayList{"a", "x", "y", "z", "c"};
        QTest::newRow("replace lines by fewer") << abc << "replace 3" << 0 << u"x"_s << QByteArrayList{"x"};
        QTest::newRow("replace no lines")
            << abc << "replace 0" << 3 << u"d"_s << QByteArrayList{"a", "b", "c", "d"};
    }
    void edits() {
        QFETCH(QByteArrayList, before);
        QFETCH(QString, operation);
        QFETCH(int, line);
        QFETCH(QString, text);
        QFETCH(QByteArrayList, after);
        LogStore store = StoreOf(before);
        if (operation == "replace")
            store.ReplaceLine(line, text);
        else if (operation == "insert")
            store.InsertLine(line, text);
        else if (operation.startsWith(u"replace ")) {
            const QByteArrayList bytes = text.toLatin1().split('\n');
            const std::vector<QByteArrayView> views(bytes.cbegin(), bytes.cend());
            store.ReplaceLines(line, operation.mid(8).toInt(), views);
        } else
            store.RemoveLine(line);
        QCOMPARE(Lines(store), after);
    }

    void insertLinesKeepsOrder() {
        LogStore store = StoreOf({"a", "d"});
        store.InsertLines(1, {u"b"_s, u"c"_s});
        QCOMPARE(Lines(store), (QByteArrayList{"a", "b", "c", "d"}));
    }

    void replaceFromOwnBytes() {
        LogStore store = StoreOf({"abcdef", "xy"});
        store.ReplaceLineBytes(0, store.LineView(0).sliced(2));
        store.ReplaceLineBytes(1, store.LineBytes(1) + store.LineBytes(1));
        QCOMPARE(Lines(store), (QByteArrayList{"cdef", "xyxy"}));
        const std::vector<QByteArrayView> swapped{store.LineView(1), store.LineView(0)};
        store.ReplaceLines(0, 2, swapped);
        QCOMPARE(Lines(store), (QByteArrayList{"xyxy", "cdef"}));
    }

    void manyEditsKeepEveryLine() {
        // Enough rewriting that replaced bytes are reclaimed several times over.
        LogStore store;
        store.Clear();
        for (int i = 0; i < 1000; ++i)
            store.AppendBytes(QByteArray::number(i));
        QByteArray growing;
        for (int round = 0; round < 3000; ++round) {
            growing += char('a' + round % 26);
            store.ReplaceLineBytes(500, growing);
            if (round % 100 == 0)
                store.RemoveLine(999 - round / 100);
        }
        QCOMPARE(store.LineCount(), 1000 - 30);
        QCOMPARE(store.LineBytes(500), growing);
        QCOMPARE(store.LineBytes(499), QByteArray("499"));
        QCOMPARE(store.LineBytes(501), QByteArray("501"));
        QCOMPARE(store.LineBytes(store.LineCount() - 1), QByteArray("969"));
        QVERIFY(store.MemoryBytes() < 4 * 1024 * 1024);
    }

    void lineLargerThanABlock() {
        LogStore store;
        const QByteArray big(1024 * 1024 + 7, 'x');
        store.AppendBytes("before");
        store.AppendBytes(big);
        store.AppendBytes("after");
        QCOMPARE(Lines(store), (QByteArrayList{"", "before", big, "after"}));
    }
};

QTEST_APPLESS_MAIN(LogStoreTest)
#include "log_store_test.moc"

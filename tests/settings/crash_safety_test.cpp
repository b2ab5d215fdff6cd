#include "settings/parameter_file.h"
#include "tests/settings/saver_records.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace settings;

namespace {

constexpr int kKills = 50;
constexpr int kReadyTimeoutMs = 60000;
// Kills land at different points of the save: right away, or a few milliseconds in.
constexpr int kLongestDelayMs = 6;

} // namespace

class CrashSafetyTest : public QObject {
    Q_OBJECT

private slots:
    void KilledSaveLeavesAKnownRecord() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(kParameterFileName);
        const auto known = SaverRecords();
        const ParamRecord absent{}; // what Load reports when it had to create the file

        for (int attempt = 0; attempt < kKills; ++attempt) {
            QProcess saver;
            saver.start(QStringLiteral(TAVRIN_RECORD_SAVER), {path});
            QVERIFY2(saver.waitForStarted(), qPrintable(saver.errorString()));
            QVERIFY2(saver.waitForReadyRead(kReadyTimeoutMs), qPrintable(saver.readAllStandardError()));
            QCOMPARE(saver.readLine().trimmed(), QByteArray("ready"));
            if (attempt % (kLongestDelayMs + 1) != 0)
                QTest::qWait(attempt % (kLongestDelayMs + 1));
            saver.kill();
            QVERIFY(saver.waitForFinished(kReadyTimeoutMs));
            QCOMPARE(saver.exitStatus(), QProcess::CrashExit);

            QCOMPARE(QFileInfo(path).size(), qint64(kRecordSize));
            ParameterFile file(path);
            const LoadResult loaded = file.Load(absent);
            QCOMPARE(loaded.outcome, LoadOutcome::Read);
            QVERIFY2(std::find(known.begin(), known.end(), loaded.record) != known.end(),
                     qPrintable(QStringLiteral("kill %1 left an unknown record").arg(attempt)));
        }
        // A save cut short between naming its temporary and renaming it may leave that file
        // behind; it carries a suffix of its own, so the loader never reads it for the record.
        const QString name = QString::fromLatin1(kParameterFileName);
        const QStringList entries = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(entries.count(name), 1);
        for (const QString& entry : entries)
            QVERIFY2(entry == name || entry.startsWith(name + u'.'), qPrintable(entry));
    }
};

QTEST_GUILESS_MAIN(CrashSafetyTest)
#include "crash_safety_test.moc"

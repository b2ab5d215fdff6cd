#include "storage/replace_file.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>

using storage::LinkHandling;

namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

// Records the calls of a save, each short, and fails the one named.
struct CallRecorder {
    QStringList calls;
    QString failing; // "write", "second write", "sync file", "rename", "sync folder"
    int error = 0;

    storage::SaveCalls Calls() {
        const storage::SaveCalls real = storage::SystemSaveCalls();
        const auto failed = [this](const char* call) {
            calls << call;
            return failing == calls.last() ? (errno = error, true) : false;
        };
        return {
            [=, this](int fd, const void* data, size_t size) -> ssize_t {
                return failed(calls.contains("write") ? "second write" : "write")
                           ? -1
                           : real.write(fd, data, std::min<size_t>(size, 4));
            },
            [=](int fd) {
                struct stat st = {};
                ::fstat(fd, &st);
                return failed(S_ISDIR(st.st_mode) ? "sync folder" : "sync file") ? -1 : real.fsync(fd);
            },
            [=](const char* from, const char* to) { return failed("rename") ? -1 : real.rename(from, to); },
            real.openUnnamed, real.link, real.renameNoReplace, real.freeBytes};
    }
};

} // namespace

Q_DECLARE_METATYPE(LinkHandling)

// Why a save failed; empty when it did not.
QString Why(const report::Done& saved) {
    return saved ? QString() : saved.Reason();
}

class ReplaceFileTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { storage::SetSaveCalls(storage::SystemSaveCalls()); }

    // "out" is a link to a target in "other" (which holds "old") or elsewhere, or a folder; a file
    // locked as a run locks the record it is writing is never replaced.
    void onlyRegularFilesAreReplaced_data() {
        // A link target, or "/": a folder at the name; "live": a run's record at the name.
        QTest::addColumn<QString>("linkTo");
        QTest::addColumn<LinkHandling>("links");
        QTest::addColumn<QString>("reason"); // empty: saved
        QTest::addColumn<bool>("stillLink");
        QTest::addColumn<QByteArray>("oldFile"); // other/old afterwards
        QTest::addColumn<bool>("oldLocked");     // other/old locked as a run's record
        const auto link = LinkHandling::ReplaceLink;
        const auto target = LinkHandling::ReplaceTarget;
        const QString live =
            "it is the record of a run still being written (it is locked); nothing was written";
        QTest::newRow("output: link to a file")
            << "other/old" << link << "" << false << QByteArray("old") << false;
        QTest::newRow("settings: link to a file")
            << "other/old" << target << "" << true << QByteArray("new") << false;
        QTest::newRow("settings: link to a device")
            << "/dev/null" << target << "it is a link to a device, not to a regular file" << true
            << QByteArray("old") << false;
        QTest::newRow("settings: dangling link")
            << "other/none" << target << "it is a link to a file that does not exist" << true
            << QByteArray("old") << false;
        QTest::newRow("folder") << "/" << target << "it is a folder, not a regular file" << false
                                << QByteArray("old") << false;
        QTest::newRow("a run's record still being written")
            << "live" << link << live << false << QByteArray("old") << false;
        QTest::newRow("settings: link to a run's record still being written")
            << "other/old" << target << live << true << QByteArray("old") << true;
        QTest::newRow("output: link to a run's record still being written: the link goes, the record stays")
            << "other/old" << link << "" << false << QByteArray("old") << true;
    }
    void onlyRegularFilesAreReplaced() {
        QFETCH(QString, linkTo);
        QFETCH(LinkHandling, links);
        QFETCH(QString, reason);
        QFETCH(bool, stillLink);
        QFETCH(QByteArray, oldFile);
        QFETCH(bool, oldLocked);
        QTemporaryDir temp;
        const QDir dir(temp.path());
        const QString out = dir.filePath("out");
        QVERIFY(dir.mkdir("other"));
        Write(dir.filePath("other/old"), "old");
        // Held as a run holds its record: open, locked exclusively, for as long as this lives.
        QFile held(linkTo == "live" ? out : dir.filePath("other/old"));
        if (linkTo == "live")
            Write(out, "live");
        if (linkTo == "live" || oldLocked) {
            QVERIFY(held.open(QIODevice::ReadWrite | QIODevice::Append));
            QVERIFY(::flock(held.handle(), LOCK_EX) == 0);
        }
        if (linkTo == "/")
            QVERIFY(dir.mkdir("out"));
        else if (!linkTo.isEmpty() && linkTo != "live")
            QVERIFY(QFile::link(linkTo.startsWith('/') ? linkTo : dir.filePath(linkTo), out));

        QCOMPARE(Why(storage::ReplaceFile(out, "new", links)), reason);
        QCOMPARE(QFileInfo(out).isSymLink(), stillLink);
        if (reason.isEmpty())
            QCOMPARE(Read(out), QByteArray("new"));
        if (linkTo == "live")
            QCOMPARE(Read(out), QByteArray("live"));
        QCOMPARE(Read(dir.filePath("other/old")), oldFile);
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 (QStringList{"other", "out"}));
        QCOMPARE(QDir(dir.filePath("other")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"old"});
    }

    void failedCallsKeepTheOldFile_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("contents"); // of the file afterwards
        QTest::newRow("disk full after a short write")
            << "second write" << ENOSPC << "No space left on device" << QByteArray("old");
        QTest::newRow("file sync") << "sync file" << EIO << "Input/output error" << QByteArray("old");
        QTest::newRow("rename") << "rename" << EXDEV << "Invalid cross-device link" << QByteArray("old");
        QTest::newRow("folder sync")
            << "sync folder" << EIO
            << "the new file is in place, but its folder could not be synced (Input/output error)"
            << QByteArray("new contents");
        QTest::newRow("folder sync not supported")
            << "sync folder" << EINVAL << "" << QByteArray("new contents");
    }
    void failedCallsKeepTheOldFile() {
        QFETCH(QString, failing);
        QFETCH(int, error);
        QFETCH(QString, reason);
        QFETCH(QByteArray, contents);
        QTemporaryDir temp;
        const QString out = temp.filePath("out");
        Write(out, "old");
        Write(temp.filePath("out.tmp-Ab12Cd"), "left by a save that was killed"); // goes, whatever this save does
        CallRecorder recorder{{}, failing, error};
        storage::SetSaveCalls(recorder.Calls());

        QCOMPARE(Why(storage::ReplaceFile(out, "new contents", LinkHandling::ReplaceLink)),
                 reason);
        QCOMPARE(Read(out), contents);
        QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out"});
        // The contents reach the disk before the rename, and the rename lasts once the folder does.
        if (reason.isEmpty())
            QCOMPARE(recorder.calls, (QStringList{"write", "second write", "second write", "sync file",
                                                  "rename", "sync folder"}));
    }
};

QTEST_GUILESS_MAIN(ReplaceFileTest)
#include "replace_file_test.moc"

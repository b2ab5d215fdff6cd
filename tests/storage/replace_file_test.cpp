#include "storage/replace_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using storage::LinkHandling;

namespace {

enum class Standing { Nothing, File, LinkToFile, LinkToDevice, LinkToFifo, LinkToFolder, DanglingLink, Fifo, Folder };

const QByteArray kNew = "new contents";
const QByteArray kOld = "old contents";
const QByteArray kElsewhere = "kept elsewhere";

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Puts what the row names at folder/out; a link's target lies in folder/other.
void Plant(const QDir& folder, Standing standing) {
    QVERIFY(folder.mkdir("other"));
    Write(folder.filePath("other/file"), kElsewhere);
    QVERIFY(::mkfifo(QFile::encodeName(folder.filePath("other/fifo")).constData(), 0600) == 0);
    const QString out = folder.filePath("out");
    const auto link = [&](const QString& target) { QVERIFY(QFile::link(target, out)); };
    switch (standing) {
    case Standing::Nothing: break;
    case Standing::File: Write(out, kOld); break;
    case Standing::LinkToFile: link(folder.filePath("other/file")); break;
    case Standing::LinkToDevice: link("/dev/null"); break;
    case Standing::LinkToFifo: link(folder.filePath("other/fifo")); break;
    case Standing::LinkToFolder: link(folder.filePath("other")); break;
    case Standing::DanglingLink: link(folder.filePath("other/missing")); break;
    case Standing::Fifo: QVERIFY(::mkfifo(QFile::encodeName(out).constData(), 0600) == 0); break;
    case Standing::Folder: QVERIFY(folder.mkdir("out")); break;
    }
}

// Everything in the folder and its sub-folder, so that a temporary left behind shows.
QStringList Entries(const QDir& folder) {
    QStringList entries = folder.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& entry : QDir(folder.filePath("other")).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot))
        entries << "other/" + entry;
    return entries;
}

// Records the calls of a save and can make one of them fail.
struct CallRecorder {
    QStringList calls;
    QString failing; // "write", "second write", "sync file", "rename", "sync folder"
    int error = 0;

    storage::SaveCalls Calls() {
        const storage::SaveCalls real = storage::SystemSaveCalls();
        return {
            [this, real](int fd, const void* data, size_t size) -> ssize_t {
                calls << (calls.contains("write") ? "second write" : "write");
                if (failing == calls.last())
                    return errno = error, -1;
                return real.write(fd, data, std::min<size_t>(size, 4)); // short writes: the rest must follow
            },
            [this, real](int fd) {
                struct stat st = {};
                ::fstat(fd, &st);
                calls << (S_ISDIR(st.st_mode) ? "sync folder" : "sync file");
                return failing == calls.last() ? (errno = error, -1) : real.fsync(fd);
            },
            [this, real](const char* from, const char* to) {
                calls << "rename";
                return failing == calls.last() ? (errno = error, -1) : real.rename(from, to);
            },
        };
    }
};

} // namespace

Q_DECLARE_METATYPE(Standing)
Q_DECLARE_METATYPE(LinkHandling)

class ReplaceFileTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { storage::SetSaveCalls(storage::SystemSaveCalls()); }

    void onlyRegularFilesAreReplaced_data() {
        QTest::addColumn<Standing>("standing");
        QTest::addColumn<LinkHandling>("links");
        QTest::addColumn<QString>("reason");       // empty: saved
        QTest::addColumn<bool>("linkAfter");       // out is still a link
        QTest::addColumn<QByteArray>("elsewhere"); // other/file afterwards
        const auto link = LinkHandling::ReplaceLink;
        const auto target = LinkHandling::ReplaceTarget;
        QTest::newRow("new file") << Standing::Nothing << link << "" << false << kElsewhere;
        QTest::newRow("older file") << Standing::File << target << "" << false << kElsewhere;
        QTest::newRow("output: link to a file is replaced") << Standing::LinkToFile << link << "" << false << kElsewhere;
        QTest::newRow("output: link to a device is replaced") << Standing::LinkToDevice << link << "" << false << kElsewhere;
        QTest::newRow("output: dangling link is replaced") << Standing::DanglingLink << link << "" << false << kElsewhere;
        QTest::newRow("settings: link's target is replaced") << Standing::LinkToFile << target << "" << true << kNew;
        QTest::newRow("settings: link to a device") << Standing::LinkToDevice << target
            << "it is a link to a device, not to a regular file" << true << kElsewhere;
        QTest::newRow("settings: link to a FIFO") << Standing::LinkToFifo << target
            << "it is a link to a FIFO, not to a regular file" << true << kElsewhere;
        QTest::newRow("settings: link to a folder") << Standing::LinkToFolder << target
            << "it is a link to a folder, not to a regular file" << true << kElsewhere;
        QTest::newRow("settings: dangling link") << Standing::DanglingLink << target
            << "it is a link to a file that does not exist" << true << kElsewhere;
        QTest::newRow("FIFO") << Standing::Fifo << link << "it is a FIFO, not a regular file" << false << kElsewhere;
        QTest::newRow("folder") << Standing::Folder << target << "it is a folder, not a regular file" << false << kElsewhere;
    }
    void onlyRegularFilesAreReplaced() {
        QFETCH(Standing, standing);
        QFETCH(LinkHandling, links);
        QFETCH(QString, reason);
        QFETCH(bool, linkAfter);
        QFETCH(QByteArray, elsewhere);
        QTemporaryDir temp;
        const QDir folder(temp.path());
        Plant(folder, standing);
        const QStringList before = Entries(folder);
        const QString out = folder.filePath("out");

        const auto error = storage::ReplaceFile(out, kNew, links);

        QCOMPARE(error.value_or(QString()), reason);
        QCOMPARE(QFileInfo(out).isSymLink(), linkAfter);
        if (reason.isEmpty())
            QCOMPARE(Read(out), kNew);
        QCOMPARE(Read(folder.filePath("other/file")), elsewhere);
        QStringList after = Entries(folder);
        if (standing == Standing::Nothing)
            after.removeOne("out");
        QCOMPARE(after, before);
        QCOMPARE(QFileInfo("/dev/null").isFile(), false);
    }

    void failedCallsKeepTheOldFile_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QByteArray>("contents"); // of the file afterwards
        QTest::newRow("first write") << "write" << EIO << "Input/output error" << kOld;
        QTest::newRow("full disk after a short write") << "second write" << ENOSPC << "No space left on device" << kOld;
        QTest::newRow("file sync") << "sync file" << EIO << "Input/output error" << kOld;
        QTest::newRow("rename") << "rename" << EXDEV << "Invalid cross-device link" << kOld;
        QTest::newRow("folder sync") << "sync folder" << EIO
            << "the new file is in place, but its folder could not be synced (Input/output error)" << kNew;
        QTest::newRow("folder sync not supported") << "sync folder" << EINVAL << "" << kNew;
    }
    void failedCallsKeepTheOldFile() {
        QFETCH(QString, failing);
        QFETCH(int, error);
        QFETCH(QString, reason);
        QFETCH(QByteArray, contents);
        QTemporaryDir temp;
        const QString out = temp.filePath("out");
        Write(out, kOld);
        CallRecorder recorder{{}, failing, error};
        storage::SetSaveCalls(recorder.Calls());

        QCOMPARE(storage::ReplaceFile(out, kNew, LinkHandling::ReplaceLink).value_or(QString()), reason);
        QCOMPARE(Read(out), contents);
        QCOMPARE(QDir(temp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out"});
    }

    // The contents reach the disk before the rename, and the rename only lasts once the folder does.
    void callsComeInOrder() {
        QTemporaryDir temp;
        CallRecorder recorder;
        storage::SetSaveCalls(recorder.Calls());
        QVERIFY(!storage::ReplaceFile(temp.filePath("out"), "0123456789", LinkHandling::ReplaceLink));
        QCOMPARE(recorder.calls, (QStringList{"write", "second write", "second write", "sync file", "rename",
                                              "sync folder"}));
    }

    void permissionsAreKept() {
        QTemporaryDir temp;
        const QString out = temp.filePath("out");
        Write(out, kOld);
        QVERIFY(QFile::setPermissions(out, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(!storage::ReplaceFile(out, kNew, LinkHandling::ReplaceLink));
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(out).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
    }
};

QTEST_GUILESS_MAIN(ReplaceFileTest)
#include "replace_file_test.moc"

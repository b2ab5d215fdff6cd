#include "output/stale_temporaries.h"
#include "output/sweep_file_deletion.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Everything under root, files and folders, as relative paths.
QStringList Tree(const QString& root) {
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        entries << QDir(root).relativeFilePath(it.next());
    }
    entries.sort();
    return entries;
}

void Touch(const QString& path) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

const QStringList kFiles = {
    "tavrin0.bmp",
    "tavrin0.txt",
    "tavrin12.txt",
    "tavrin.bmp",
    "tavrinX.png",
    "other0.bmp",
    "Tavrin1.bmp",
    "xtavrin0.bmp",
    "tavrin0.bmp.bak",
    "tavrin0.BMP",
    "tavrin_dir.bmp/tavrin5.bmp",
    "*0.bmp",
    ".tavrin3.txt",
    "sub/tavrin3.bmp",
    "sub/tavrin3.txt",
    "tavrin 0.bmp",
    "tavrin notes.txt",
    "tavrin-logo.bmp",
    "tavrin_2025_report.txt",
    "tavrinX.txt",
    "thesis.txt",
    "tavrin-20261207-102030.csv",
    "tavrin-20261207-102030-2.csv",
    "tavrin-20261207-102030-1.csv",
    "tavrin-20261207-102030-02.csv",
    "tavrin-2026120-102030.csv",
    "tavrin0.csv",
    "tavrin00.bmp",
    "tavrin007.txt",
    "tavrin65535.txt",
    "tavrin65536.txt",
    "tavrin99999.bmp",
};

// Holds an exclusive lock on a file, as a logger writing its run record does: here, or in another
// process (flock(1)) until this object goes.
class LockHolder {
public:
    LockHolder(const QString& path, bool inChild) {
        if (!inChild) {
            fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
            held_ = ::flock(fd_, LOCK_EX) == 0;
            return;
        }
        child_.start("flock", {"-x", path, "-c", "echo locked; read line"});
        held_ = child_.waitForReadyRead(60000);
    }
    ~LockHolder() {
        ::close(fd_);
        child_.closeWriteChannel();
        child_.waitForFinished(60000);
    }
    bool Held() const { return held_; }

private:
    int fd_ = -1;
    QProcess child_;
    bool held_ = false;
};

} // namespace

class SweepFileDeletionTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void deletesMatchingFiles_data();
    void deletesMatchingFiles();
    void longBaseName();
    void undeletableFile();
    void deletedWhereNoTrashCanTakeIt();
    void recordsBeingWrittenStay_data();
    void recordsBeingWrittenStay();
    void staleTemporaries();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QTemporaryDir> home_; // HOME and its trash, on the same file system as dir_
    QString previousCurrent_;
};

void SweepFileDeletionTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QDir root(dir_->path());
    for (const QString& file : kFiles) {
        root.mkpath(QFileInfo(file).path());
        Touch(root.filePath(file));
    }
    home_ = std::make_unique<QTemporaryDir>(dir_->path() + "-home");
    QVERIFY(QDir().mkpath(home_->filePath(".local/share")));
    qputenv("HOME", QFile::encodeName(home_->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home_->filePath(".local/share")));
    // A shell would run commands in the current directory: make it the one we watch.
    previousCurrent_ = QDir::currentPath();
    QDir::setCurrent(dir_->path());
}

void SweepFileDeletionTest::cleanup() {
    QDir::setCurrent(previousCurrent_);
    dir_.reset();
    home_.reset();
}

void SweepFileDeletionTest::deletesMatchingFiles_data() {
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<QStringList>("deleted"); // charts first, then logs
    QTest::addColumn<bool>("refused");

    QTest::newRow("default, the run records left") << "tavrin"
                             << QStringList{"tavrin0.bmp", "tavrin0.txt", "tavrin12.txt", "tavrin65535.txt"}
                             << false;
    QTest::newRow("one letter") << "t" << QStringList{} << false;
    QTest::newRow("digits follow the base name") << "tavrin1" << QStringList{"tavrin12.txt"} << false;
    QTest::newRow("no leading zeros") << "tavrin0" << QStringList{"tavrin00.bmp"} << false;
    QTest::newRow("base name must precede the extension") << "tavrin0.b" << QStringList{} << false;
    QTest::newRow("case matters") << "Tavrin" << QStringList{"Tavrin1.bmp"} << false;
    QTest::newRow("hidden files") << ".tavrin" << QStringList{".tavrin3.txt"} << false;
    QTest::newRow("directory part") << "sub/tavrin" << QStringList{"sub/tavrin3.bmp", "sub/tavrin3.txt"}
                                    << false;
    QTest::newRow("missing directory") << "nodir/tavrin" << QStringList{} << false;
    QTest::newRow("blank") << "tavrin " << QStringList{"tavrin 0.bmp"} << false;
    QTest::newRow("command separator") << "a; touch pwned" << QStringList{} << false;
    QTest::newRow("command substitution") << "$(touch pwned)" << QStringList{} << false;
    QTest::newRow("backquotes") << "`touch pwned`" << QStringList{} << false;
    QTest::newRow("quote") << "tavrin\" & touch pwned & \"" << QStringList{} << false;
    QTest::newRow("star is literal") << "*" << QStringList{"*0.bmp"} << false;
    QTest::newRow("question mark is literal") << "tavrin?" << QStringList{} << false;
    QTest::newRow("bracket is literal") << "[t]avrin" << QStringList{} << false;
    QTest::newRow("empty") << "" << QStringList{} << true;
    QTest::newRow("directory part only") << "sub/" << QStringList{} << true;
}

void SweepFileDeletionTest::deletesMatchingFiles() {
    QFETCH(QString, baseName);
    QFETCH(QStringList, deleted);
    QFETCH(bool, refused);

    const QStringList before = Tree(dir_->path());
    const QString outsideCurrent = previousCurrent_;
    const output::DeleteOutcome outcome = output::DeleteSweepFiles(baseName, dir_->path());

    QCOMPARE(outcome.refused, refused);
    QCOMPARE(outcome.deleted, deleted);
    QCOMPARE(outcome.trashed, deleted);
    QVERIFY(outcome.failed.isEmpty());
    QStringList inTrash;
    for (const QString& file : deleted)
        inTrash << QFileInfo(file).fileName();
    inTrash.sort();
    QCOMPARE(
        QDir(home_->filePath(".local/share/Trash/files")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
        inTrash);
    QCOMPARE(outcome.message, refused ? output::kEmptyBaseNameMessage.toString() : QString());
    QStringList expected = before;
    for (const QString& file : deleted) {
        expected.removeOne(file);
    }
    QCOMPARE(Tree(dir_->path()), expected);
    QVERIFY(!QFileInfo::exists(QDir(outsideCurrent).filePath("pwned")));
}

void SweepFileDeletionTest::longBaseName() {
    const QString base = "sub/" + QString(200, 'L');
    Touch(dir_->filePath(base + "0.bmp"));
    Touch(dir_->filePath(base + "65535.txt"));

    const output::DeleteOutcome outcome = output::DeleteSweepFiles(base, dir_->path());
    QCOMPARE(outcome.deleted, (QStringList{base + "0.bmp", base + "65535.txt"}));
    QVERIFY(!QFileInfo::exists(dir_->filePath(base + "0.bmp")));
    QVERIFY(QFileInfo::exists(dir_->filePath("sub/tavrin3.bmp")));

    // An absolute directory part needs no current directory.
    const QString absolute = dir_->filePath("sub/tavrin");
    QCOMPARE(output::DeleteSweepFiles(absolute, "/nonexistent").deleted,
             (QStringList{absolute + "3.bmp", absolute + "3.txt"}));
}

void SweepFileDeletionTest::undeletableFile() {
    if (geteuid() == 0) {
        QSKIP("permissions do not stop root from deleting");
    }
    const QString sub = dir_->filePath("sub");
    QVERIFY(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
    const output::DeleteOutcome outcome = output::DeleteSweepFiles("sub/tavrin", dir_->path());
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QVERIFY(!outcome.refused);
    QCOMPARE(outcome.failed, (QStringList{"sub/tavrin3.bmp", "sub/tavrin3.txt"}));
    QVERIFY(outcome.message.contains("sub/tavrin3.bmp"));
    QVERIFY(QFileInfo::exists(dir_->filePath("sub/tavrin3.bmp")));
}

void SweepFileDeletionTest::deletedWhereNoTrashCanTakeIt() {
    // The data folder is a file, so no trash folder can be made in it.
    const QString blocked = home_->filePath("blocked");
    Touch(blocked);
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocked));
    const output::DeleteOutcome outcome = output::DeleteSweepFiles("sub/tavrin", dir_->path());
    QCOMPARE(outcome.deleted, (QStringList{"sub/tavrin3.bmp", "sub/tavrin3.txt"}));
    QCOMPARE(outcome.trashed, QStringList{});
    QVERIFY(!QFileInfo::exists(dir_->filePath("sub/tavrin3.bmp")));
    QCOMPARE(Tree(dir_->filePath("sub")), QStringList{});
    QVERIFY(!QFileInfo::exists(dir_->filePath("files"))); // nothing moved aside in place of a trash
}

// The run records stay, written or being written (locked here or by another process), and nothing is said.
void SweepFileDeletionTest::recordsBeingWrittenStay_data() {
    QTest::addColumn<QString>("lockedBy"); // "", "this process", "another process"
    QTest::newRow("not locked") << "";
    for (const char* holder : {"this process", "another process"})
        QTest::newRow(holder) << holder;
}

void SweepFileDeletionTest::recordsBeingWrittenStay() {
    QFETCH(QString, lockedBy);
    const QString record = dir_->filePath("tavrin-20261207-102030.csv");
    std::optional<LockHolder> lock;
    if (!lockedBy.isEmpty())
        QVERIFY(lock.emplace(record, lockedBy == "another process").Held());
    const output::DeleteOutcome outcome = output::DeleteSweepFiles("tavrin", dir_->path());
    QCOMPARE(outcome.deleted.filter(".csv"), QStringList{});
    QCOMPARE(outcome.message, QString());
    QVERIFY(QFileInfo::exists(record) && QFileInfo::exists(dir_->filePath("tavrin-20261207-102030-2.csv")));
}

// Only the temporaries of names the logger saves go, and only when no save holds them.
void SweepFileDeletionTest::staleTemporaries() {
    const QStringList removed{"tavrin-20261207-102030.csv.tmp-abcdef", "tavrin0.bmp.tmp-Ab12Cd",
                              "tavrin65535.txt.tmp-000000"};
    const QStringList kept{"tavrin0.bmp.backup", "tavrin0.bmp.ABCDEF", "tavrin0.bmp.tmp-ABCDE", "tavrin0.bmp.tmp-ABCDEFG",
                           "tavrin00.bmp.tmp-abcdef", "other0.bmp.tmp-abcdef", "tavrin0.png.tmp-abcdef",
                           "tavrin1.bmp.tmp-locked", "sub/tavrin3.bmp.tmp-abcdef"};
    for (const QString& name : removed + kept)
        Touch(dir_->filePath(name));
    QVERIFY(QFile::link(dir_->filePath("tavrin0.bmp"), dir_->filePath("tavrin2.bmp.tmp-linked")));
    const LockHolder save(dir_->filePath("tavrin1.bmp.tmp-locked"), true);
    QVERIFY(save.Held());
    const QStringList before = Tree(dir_->path());
    QCOMPARE(output::RemoveStaleTemporaries("tavrin", dir_->path()), removed);
    QStringList expected = before;
    for (const QString& name : removed)
        expected.removeOne(name);
    QCOMPARE(Tree(dir_->path()), expected);
}

QTEST_MAIN(SweepFileDeletionTest)
#include "sweep_file_deletion_test.moc"

#include "output/sweep_file_name.h"
#include "output/sweep_file_writer.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

enum class FileKind { Chart, Log };

QImage KnownPicture() {
    QImage picture(609, 403, QImage::Format_RGB32);
    picture.fill(Qt::white);
    picture.setPixel(0, 0, qRgb(255, 0, 0));
    picture.setPixel(608, 0, qRgb(0, 128, 0));
    picture.setPixel(0, 402, qRgb(0, 0, 255));
    picture.setPixel(608, 402, qRgb(128, 0, 128));
    picture.setPixel(300, 300, qRgb(0, 0, 0));
    picture.setPixel(301, 300, qRgb(192, 192, 192));
    return picture;
}

report::Done Write(FileKind kind, const QString& fileName, qsizetype logSize = 64) {
    return kind == FileKind::Chart ? output::WriteChartFile(fileName, KnownPicture())
                                   : output::WriteLogFile(fileName, QByteArray(logSize, 'x'));
}

QStringList Entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Lowers the process's file size limit, as a full disk would stop a write.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

} // namespace

Q_DECLARE_METATYPE(FileKind)

class SweepFilesTest : public QObject {
    Q_OBJECT
private slots:
    void fileNames_data();
    void fileNames();
    void chartFileReadsBack();
    void logFileHoldsExactBytes();
    void writeFailures_data();
    void writeFailures();
    void readOnlyDirectory_data();
    void readOnlyDirectory();
    void fullDiskKeepsOlderFile_data();
    void fullDiskKeepsOlderFile();
    void emptyPictureIsRefused();
    void linkAtTheNameIsReplaced_data();
    void linkAtTheNameIsReplaced();
};

void SweepFilesTest::fileNames_data() {
    QTest::addColumn<QString>("baseName");
    QTest::addColumn<int>("fileIndex");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QString>("expected");

    QTest::newRow("default chart") << "tavrin" << 0 << ".bmp"
                                   << "tavrin0.bmp";
    QTest::newRow("default log") << "tavrin" << 1 << ".txt"
                                 << "tavrin1.txt";
    QTest::newRow("empty base name") << "" << 0 << ".bmp"
                                     << "0.bmp";
    QTest::newRow("last index") << "tavrin" << 65535 << ".txt"
                                << "tavrin65535.txt";
    QTest::newRow("directory part") << "out/run/tav" << 3 << ".bmp"
                                    << "out/run/tav3.bmp";
    QTest::newRow("absolute") << "/data/tav" << 40 << ".txt"
                              << "/data/tav40.txt";
}

void SweepFilesTest::fileNames() {
    QFETCH(QString, baseName);
    QFETCH(int, fileIndex);
    QFETCH(QString, extension);
    QFETCH(QString, expected);
    QCOMPARE(output::SweepFileName(baseName, quint16(fileIndex), extension), expected);
}

void SweepFilesTest::chartFileReadsBack() {
    QTemporaryDir dir;
    const QString fileName = dir.filePath("tavrin0.bmp");
    QVERIFY(output::WriteChartFile(fileName, KnownPicture()));

    QImageReader reader(fileName);
    QCOMPARE(reader.format(), QByteArray("bmp"));
    const QImage back = reader.read();
    QCOMPARE(back.size(), QSize(609, 403));
    const QImage known = KnownPicture();
    for (const QPoint p : {QPoint(0, 0), QPoint(608, 0), QPoint(0, 402), QPoint(608, 402), QPoint(300, 300),
                           QPoint(301, 300), QPoint(100, 100)}) {
        QCOMPARE(back.pixel(p), known.pixel(p));
    }
    QCOMPARE(Entries(dir.path()), QStringList{"tavrin0.bmp"});

    const QString artefacts = qEnvironmentVariable("TAVRIN_TEST_ARTEFACTS");
    if (!artefacts.isEmpty() && QDir().mkpath(artefacts)) {
        QFile::remove(artefacts + "/sweep_chart_file.bmp");
        QFile::copy(fileName, artefacts + "/sweep_chart_file.bmp");
    }
}

void SweepFilesTest::logFileHoldsExactBytes() {
    QTemporaryDir dir;
    const QString fileName = dir.filePath("tavrin0.txt");
    QFile older(fileName);
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.write(QByteArray(5000, 'o'));
    older.close();

    // "SIO Monitor" and a Shift-JIS line, CR LF ends: written byte for byte, the older file replaced.
    const QByteArray bytes = QByteArray("SIO Monitor\r\n\x83\x66\x81\x5B\x83\x5E\r\n\r\n");
    QVERIFY(output::WriteLogFile(fileName, bytes));
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes);
    QCOMPARE(Entries(dir.path()), QStringList{"tavrin0.txt"});
}

void SweepFilesTest::writeFailures_data() {
    QTest::addColumn<FileKind>("kind");
    QTest::addColumn<QString>("name"); // relative to a fresh folder
    QTest::addColumn<QString>("reason");

    for (const auto& [kind, tag, extension] :
         {std::tuple{FileKind::Chart, "chart", ".bmp"}, std::tuple{FileKind::Log, "log", ".txt"}}) {
        QTest::addRow("%s: missing directory", tag)
            << kind << QString("nodir/tavrin0") + extension << "No such file or directory";
        QTest::addRow("%s: name of a directory", tag) << kind << "existing"
                                                      << "it is a folder, not a regular file";
        QTest::addRow("%s: name too long", tag)
            << kind << QString(300, 'n') + extension << "File name too long";
    }
}

void SweepFilesTest::writeFailures() {
    QFETCH(FileKind, kind);
    QFETCH(QString, name);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("existing"));
    const QStringList before = Entries(dir.path());
    const QString fileName = dir.filePath(name);

    const auto error = Write(kind, fileName);
    QVERIFY(!error);
    const QString kindText = kind == FileKind::Chart ? "chart file" : "log file";
    QCOMPARE(error.Reason(), QString("Cannot write the %1 %2: %3").arg(kindText, fileName, reason));
    QCOMPARE(Entries(dir.path()), before);
    QVERIFY(Entries(dir.filePath("existing")).isEmpty());
}

void SweepFilesTest::readOnlyDirectory_data() {
    QTest::addColumn<FileKind>("kind");
    QTest::newRow("chart") << FileKind::Chart;
    QTest::newRow("log") << FileKind::Log;
}

void SweepFilesTest::readOnlyDirectory() {
    QFETCH(FileKind, kind);

    // sysfs takes no new files, whoever asks.
    if (QFileInfo("/sys").isDir()) {
        const auto error = Write(kind, "/sys/tavrin0.out");
        QVERIFY(!error);
        QVERIFY(!error.Reason().isEmpty());
        QVERIFY(!QFileInfo::exists("/sys/tavrin0.out"));
    }

    if (geteuid() == 0) {
        QSKIP("permissions do not stop root from writing");
    }
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    const auto error = Write(kind, dir.filePath("tavrin0.out"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!error);
    QVERIFY2(error.Reason().endsWith(": Permission denied"), qPrintable(error.Reason()));
    QVERIFY(Entries(dir.path()).isEmpty());
}

void SweepFilesTest::fullDiskKeepsOlderFile_data() {
    readOnlyDirectory_data();
}

void SweepFilesTest::fullDiskKeepsOlderFile() {
    QFETCH(FileKind, kind);

    QTemporaryDir dir;
    const QString fileName = dir.filePath("tavrin0.out");
    const QByteArray olderBytes("from an earlier run");
    QFile older(fileName);
    QVERIFY(older.open(QIODevice::WriteOnly));
    older.write(olderBytes);
    older.close();

    report::Done error;
    {
        const FileSizeLimit limit(4096);
        error = Write(kind, fileName, 100000);
    }
    QVERIFY(!error);
    QVERIFY2(error.Reason().endsWith(": File too large"), qPrintable(error.Reason()));
    QCOMPARE(Entries(dir.path()), QStringList{"tavrin0.out"});
    QVERIFY(older.open(QIODevice::ReadOnly));
    QCOMPARE(older.readAll(), olderBytes);
}

void SweepFilesTest::emptyPictureIsRefused() {
    QTemporaryDir dir;
    const auto error = output::WriteChartFile(dir.filePath("tavrin0.bmp"), QImage());
    QVERIFY(!error);
    QVERIFY(error.Reason().contains("tavrin0.bmp"));
    QVERIFY(Entries(dir.path()).isEmpty());
}

void SweepFilesTest::linkAtTheNameIsReplaced_data() {
    QTest::addColumn<FileKind>("kind");
    QTest::addColumn<QString>("target"); // of the link standing at the sweep file's name
    for (const auto& [kind, tag] : {std::pair{FileKind::Chart, "chart"}, std::pair{FileKind::Log, "log"}}) {
        QTest::addRow("%s: link to a file", tag) << kind << "precious";
        QTest::addRow("%s: dangling link", tag) << kind << "nowhere";
    }
}

// A link planted at a sweep file's name is replaced by the file; what it points to stays as it was.
void SweepFilesTest::linkAtTheNameIsReplaced() {
    QFETCH(FileKind, kind);
    QFETCH(QString, target);
    QTemporaryDir dir;
    QFile precious(dir.filePath("precious"));
    QVERIFY(precious.open(QIODevice::WriteOnly) && precious.write("keep") == 4);
    precious.close();
    const QString fileName = dir.filePath("tavrin0.out");
    QVERIFY(QFile::link(dir.filePath(target), fileName));
    QVERIFY(Write(kind, fileName));
    QVERIFY(!QFileInfo(fileName).isSymLink() && QFileInfo(fileName).size() > 4);
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("keep"));
    QCOMPARE(Entries(dir.path()), (QStringList{"precious", "tavrin0.out"}));
}

QTEST_MAIN(SweepFilesTest)
#include "sweep_files_test.moc"

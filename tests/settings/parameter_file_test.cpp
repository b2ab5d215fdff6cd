#include "settings/app_settings.h"
#include "settings/parameter_file.h"
#include "settings/parameter_folder.h"
#include "tests/settings/unprivileged_user.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace settings;

namespace {

constexpr auto kOpen = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                       QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                       QFile::ExeOther;
constexpr auto kReadOnlyFolder = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                                 QFile::ReadOther | QFile::ExeOther;
constexpr auto kWritableFile = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup |
                               QFile::ReadOther | QFile::WriteOther;
constexpr auto kReadOnlyFile = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;

const ParamRecord kDefaults = StartupRecord(clGreen, clOlive, 10, {true, true, false, true, false, false});
const ParamRecord kChanged = StartupRecord(clRed, clBlue, 600, {false, false, true, false, true, true});

QByteArray Bytes(const ParamRecord& record) {
    return QByteArray(reinterpret_cast<const char*>(record.data()), kRecordSize);
}

bool WriteFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

enum class FolderState { Missing, ReadOnly, Writable };
enum class Standing { Fifo, Folder, LinkToDevice, WriteOnlyFile, TooLarge };

// While it lives, a thread of its own opens the FIFO `path` (none when empty) for writing and at
// once closes it again: a reader that opened the FIFO waiting for a writer gets the end of the
// file instead of waiting for ever, and is seen. The destructor opens the FIFO for reading without
// waiting, which lets the thread's open return when no reader came.
class FifoPartner {
public:
    explicit FifoPartner(QByteArray path) : path_(std::move(path)) {
        if (!path_.isEmpty())
            thread_ = std::thread([this] {
                const int fd = ::open(path_.constData(), O_WRONLY | O_CLOEXEC);
                metReader_ = fd >= 0;
                if (fd >= 0)
                    ::close(fd);
            });
    }
    ~FifoPartner() {
        if (path_.isEmpty())
            return;
        const int fd = ::open(path_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        thread_.join();
        if (fd >= 0)
            ::close(fd);
    }
    FifoPartner(const FifoPartner&) = delete;
    FifoPartner& operator=(const FifoPartner&) = delete;

    // Whether something has opened the FIFO for reading so far.
    bool MetReader() const { return metReader_; }

private:
    QByteArray path_;
    std::atomic<bool> metReader_ = false;
    std::thread thread_;
};

} // namespace

class ParameterFileTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> temp_;

    QString Folder(const QString& name) const { return temp_->filePath(name); }

    // Folders other users may enter, so that cases run as an ordinary user can reach them.
    QString MakeFolder(const QString& name, FolderState state) {
        const QString path = Folder(name);
        if (state != FolderState::Missing) {
            QDir().mkpath(path);
            QFile::setPermissions(path, kOpen);
        }
        return path;
    }

private slots:
    void init() {
        temp_ = std::make_unique<QTemporaryDir>();
        QVERIFY(temp_->isValid());
        QFile::setPermissions(temp_->path(), kOpen);
    }

    void cleanup() {
        // Read-only folders would keep their contents from being removed.
        QDirIterator folders(temp_->path(), QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (folders.hasNext())
            QFile::setPermissions(folders.next(), kOpen);
        temp_.reset();
    }

    void FirstLoadCreatesSecondLoadReads() {
        ParameterFile file(QDir(MakeFolder("exe", FolderState::Writable)).filePath(kParameterFileName));

        const LoadResult first = file.Load(kDefaults);
        QCOMPARE(first.outcome, LoadOutcome::Created);
        QCOMPARE(Bytes(first.record), Bytes(kDefaults));
        QCOMPARE(ReadFile(file.Path()), Bytes(kDefaults));

        const LoadResult second = file.Load(kChanged);
        QCOMPARE(second.outcome, LoadOutcome::Read);
        QCOMPARE(Bytes(second.record), Bytes(kDefaults));
        QCOMPARE(ReadFile(file.Path()), Bytes(kDefaults));
        QVERIFY(file.LastError().isEmpty());
    }

    void LoadReadsWhatTheFileHolds_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("record");
        const QByteArray full = Bytes(kChanged);
        QTest::newRow("empty") << QByteArray() << QByteArray(kRecordSize, '\xFF');
        QTest::newRow("short") << full.left(7) << full.left(7) + QByteArray(23, '\xFF');
        QTest::newRow("exact") << full << full;
        QTest::newRow("longer") << full + "\r\n" << full;
    }
    void LoadReadsWhatTheFileHolds() {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, record);
        ParameterFile file(QDir(MakeFolder("exe", FolderState::Writable)).filePath(kParameterFileName));
        QVERIFY(WriteFile(file.Path(), contents));

        const LoadResult result = file.Load(kDefaults);
        QCOMPARE(result.outcome, LoadOutcome::Read);
        QCOMPARE(Bytes(result.record), record);
        QCOMPARE(ReadFile(file.Path()), contents);
    }

    // The cause names the folder that is in the way: "HOME" is a read-only home.
    void LoadWithoutAUsableFolder_data() {
        QTest::addColumn<FolderState>("state");
        QTest::addColumn<QString>("folderName");
        QTest::addColumn<QString>("cause");
        QTest::newRow("read-only folder") << FolderState::ReadOnly << "exe" << "Permission denied";
        QTest::newRow("missing folder") << FolderState::Missing << "exe" << "the folder TEMP/exe does not exist";
        QTest::newRow("missing in a read-only home")
            << FolderState::Missing << "HOME/.config/tavrin"
            << "the folder TEMP/HOME/.config does not exist, and it cannot be made in TEMP/HOME: Permission denied";
    }
    void LoadWithoutAUsableFolder() {
        QFETCH(FolderState, state);
        QFETCH(QString, folderName);
        QFETCH(QString, cause);
        QFile::setPermissions(MakeFolder("HOME", FolderState::Writable), kReadOnlyFolder);
        const QString folder = MakeFolder(folderName, state);
        if (state == FolderState::ReadOnly)
            QFile::setPermissions(folder, kReadOnlyFolder);
        ParameterFile file(QDir(folder).filePath(kParameterFileName));

        const UnprivilegedUser user;
        if (!user.PermissionsBind())
            QSKIP("cannot run as an ordinary user");
        const LoadResult result = file.Load(kDefaults);
        QCOMPARE(result.outcome, LoadOutcome::Unavailable);
        QCOMPARE(Bytes(result.record), Bytes(kDefaults));
        QVERIFY(!QFile::exists(file.Path()));
        QCOMPARE(file.LastError(), QStringLiteral("Cannot create the settings file ombu01.par in the folder %1: %2")
                                       .arg(folder, QString(cause).replace("TEMP", temp_->path())));
    }

    // The XDG rule, and never "//.config" without a home.
    void UserConfigFolder_data() {
        QTest::addColumn<QByteArray>("configHome"); // "-": unset
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QString>("folder"); // PASSWD: the home in the password database
        QTest::newRow("XDG_CONFIG_HOME") << QByteArray("/cfg/") << QByteArray("/h") << "/cfg/tavrin";
        QTest::newRow("relative XDG_CONFIG_HOME ignored") << QByteArray("cfg") << QByteArray("/h") << "/h/.config/tavrin";
        QTest::newRow("empty XDG_CONFIG_HOME") << QByteArray("") << QByteArray("/h") << "/h/.config/tavrin";
        QTest::newRow("no HOME") << QByteArray("-") << QByteArray("-") << "PASSWD/.config/tavrin";
        QTest::newRow("relative HOME") << QByteArray("-") << QByteArray("h") << "PASSWD/.config/tavrin";
    }
    void UserConfigFolder() {
        QFETCH(QByteArray, configHome);
        QFETCH(QByteArray, home);
        QFETCH(QString, folder);
        const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME"), savedHome = qgetenv("HOME");
        for (const auto& [name, value] : {std::pair{"XDG_CONFIG_HOME", configHome}, std::pair{"HOME", home}})
            value == "-" ? qunsetenv(name) : qputenv(name, value);
        const report::Result<QString> found = settings::UserConfigFolder();
        qputenv("XDG_CONFIG_HOME", savedConfig);
        qputenv("HOME", savedHome);
        QVERIFY(found);
        QCOMPARE(*found, QString(folder).replace("PASSWD", QFile::decodeName(::getpwuid(::getuid())->pw_dir)));
    }

    // Nothing that cannot be read is opened in a way that could block, replaced or emptied.
    void LoadLeavesAloneWhatItCannotRead_data() {
        QTest::addColumn<Standing>("standing");
        QTest::addColumn<QString>("cause");
        QTest::newRow("FIFO") << Standing::Fifo << "it is a FIFO, not a regular file";
        QTest::newRow("folder") << Standing::Folder << "it is a folder, not a regular file";
        QTest::newRow("link to a device") << Standing::LinkToDevice << "it is a device, not a regular file";
        QTest::newRow("write-only file") << Standing::WriteOnlyFile << "Permission denied";
    }
    void LoadLeavesAloneWhatItCannotRead() {
        QFETCH(Standing, standing);
        QFETCH(QString, cause);
        const QString folder = MakeFolder("exe", FolderState::Writable);
        ParameterFile file(QDir(folder).filePath(kParameterFileName));
        const QByteArray name = QFile::encodeName(file.Path());
        if (standing == Standing::Fifo)
            QCOMPARE(::mkfifo(name.constData(), 0666), 0);
        else if (standing == Standing::Folder)
            QVERIFY(QDir().mkdir(file.Path()));
        else if (standing == Standing::LinkToDevice)
            QVERIFY(QFile::link("/dev/null", file.Path()));
        else
            QVERIFY(WriteFile(file.Path(), Bytes(kChanged)) &&
                    QFile::setPermissions(file.Path(), QFile::WriteOwner));
        struct stat before = {}, after = {};
        QCOMPARE(::lstat(name.constData(), &before), 0);

        const UnprivilegedUser user;
        if (standing == Standing::WriteOnlyFile && !user.PermissionsBind())
            QSKIP("cannot run as an ordinary user");
        const LoadResult result = file.Load(kDefaults);
        QCOMPARE(result.outcome, LoadOutcome::LeftAlone);
        QCOMPARE(Bytes(result.record), Bytes(kDefaults));
        QCOMPARE(file.LastError(),
                 QStringLiteral("Cannot read the settings file ombu01.par in the folder %1: %2. "
                                "It is left as it is, and the default settings are used.")
                     .arg(folder, cause));
        QCOMPARE(file.Save(kChanged), false);
        QCOMPARE(::lstat(name.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(
            QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{kParameterFileName});
    }

    void LoadRemovesStaleTemporaries() {
        const QString folder = MakeFolder("exe", FolderState::Writable);
        const QDir dir(folder);
        for (const char* name : {"ombu01.par", "ombu01.par.tmp-Ab12Cd", "ombu01.par.tmp-zzzzzz", "ombu01.par.bak",
                                 "ombu01.par.backup", "ombu01.par.tmp-Ab12Cd7", "ombu01.par.tmp-Ab_2Cd",
                                 "ombu02.par.tmp-Ab12Cd"})
            QVERIFY(WriteFile(dir.filePath(name), Bytes(kChanged)));
        QVERIFY(dir.mkdir("ombu01.par.tmp-Zz99Zz"));

        ParameterFile file(dir.filePath(kParameterFileName));
        QCOMPARE(file.Load(kDefaults).outcome, LoadOutcome::Read);
        QCOMPARE(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{"ombu01.par", "ombu01.par.backup", "ombu01.par.bak", "ombu01.par.tmp-Ab12Cd7",
                              "ombu01.par.tmp-Ab_2Cd", "ombu01.par.tmp-Zz99Zz", "ombu02.par.tmp-Ab12Cd"}));
    }

    void Save_data() {
        QTest::addColumn<bool>("folderWritable");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<bool>("fileWritable");
        QTest::addColumn<bool>("saved");
        QTest::newRow("new file") << true << false << false << true;
        QTest::newRow("replaced file") << true << true << true << true;
        QTest::newRow("read-only file") << true << true << false << false;
        QTest::newRow("read-only folder, writable file") << false << true << true << false;
        QTest::newRow("read-only folder and file") << false << true << false << false;
        QTest::newRow("read-only folder, no file") << false << false << false << false;
    }
    void Save() {
        QFETCH(bool, folderWritable);
        QFETCH(bool, fileExists);
        QFETCH(bool, fileWritable);
        QFETCH(bool, saved);
        const QString folder = MakeFolder("exe", FolderState::Writable);
        ParameterFile file(QDir(folder).filePath(kParameterFileName));
        if (fileExists) {
            QVERIFY(WriteFile(file.Path(), Bytes(kDefaults)));
            QFile::setPermissions(file.Path(), fileWritable ? kWritableFile : kReadOnlyFile);
        }
        if (!folderWritable)
            QFile::setPermissions(folder, kReadOnlyFolder);

        {
            const UnprivilegedUser user;
            if (!user.PermissionsBind())
                QSKIP("cannot run as an ordinary user");
            QCOMPARE(file.Save(kChanged), saved);
            QCOMPARE(file.LastError().isEmpty(), saved);
        }

        const QByteArray expected = saved ? Bytes(kChanged) : fileExists ? Bytes(kDefaults) : QByteArray();
        QCOMPARE(ReadFile(file.Path()), expected);
        // Nothing beside the file: no temporary left over from a save, failed or not.
        const QStringList expectedEntries =
            (saved || fileExists) ? QStringList{kParameterFileName} : QStringList{};
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 expectedEntries);
        if (saved && fileExists)
            QCOMPARE(QFile::permissions(file.Path()) & kOpen, kWritableFile);
    }

    void ChooseFolder_data() {
        QTest::addColumn<FolderState>("exeState");
        QTest::addColumn<bool>("exeHoldsFile");
        QTest::addColumn<bool>("configExists");
        QTest::addColumn<bool>("besideExe");
        QTest::newRow("writable exe folder") << FolderState::Writable << false << false << true;
        QTest::newRow("writable exe folder with file") << FolderState::Writable << true << false << true;
        QTest::newRow("read-only exe folder with file") << FolderState::ReadOnly << true << false << false;
        QTest::newRow("read-only exe folder") << FolderState::ReadOnly << false << false << false;
        QTest::newRow("read-only exe folder, config exists")
            << FolderState::ReadOnly << false << true << false;
        QTest::newRow("missing exe folder") << FolderState::Missing << false << false << false;
    }
    // Root may write these folders; a program installed there still keeps settings per user.
    void ChooseFolderOfAnInstalledProgram_data() {
        QTest::addColumn<QString>("exeDir");
        QTest::newRow("/usr/bin") << "/usr/bin";
        QTest::newRow("/usr/local/bin") << "/usr/local/bin";
        QTest::newRow("/opt") << "/opt";
    }
    void ChooseFolderOfAnInstalledProgram() {
        QFETCH(QString, exeDir);
        const QString configDir = Folder("home/.config/tavrin");
        QCOMPARE(ChooseParameterFolder(exeDir, configDir), configDir);
        QVERIFY(QFileInfo(configDir).isDir());
    }

    void ChooseFolder() {
        QFETCH(FolderState, exeState);
        QFETCH(bool, exeHoldsFile);
        QFETCH(bool, configExists);
        QFETCH(bool, besideExe);
        const QString exeDir = MakeFolder("usr/bin", exeState);
        if (exeHoldsFile)
            QVERIFY(WriteFile(QDir(exeDir).filePath(kParameterFileName), Bytes(kDefaults)));
        if (exeState == FolderState::ReadOnly)
            QFile::setPermissions(exeDir, kReadOnlyFolder);
        MakeFolder("home", FolderState::Writable);
        const QString configDir =
            MakeFolder("home/.config/tavrin", configExists ? FolderState::Writable : FolderState::Missing);

        const UnprivilegedUser user;
        if (!user.PermissionsBind())
            QSKIP("cannot run as an ordinary user");
        QCOMPARE(ChooseParameterFolder(exeDir, configDir), besideExe ? exeDir : configDir);
        // The configuration folder is made only when it is the one chosen.
        QCOMPARE(QFileInfo(configDir).isDir(), configExists || !besideExe);
    }

    // The settings beside the parameter file: what a file says, and what the program writes back
    // when the span is set (none: as read). Only the lines of values that change are rewritten, in
    // place; every other byte stays.
    void appSettingsFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("ad0"); // name|unit|scale|limits|hold|hysteresis ("-": the default)
        QTest::addColumn<QString>("span");
        QTest::addColumn<QString>("unit"); // AD0's unit set before the save; empty: as read
        QTest::addColumn<QByteArray>("written");
        const QByteArray head = "# Tavrin's settings beside the parameter file ombu01.par\n";
        const QString ad0 = "AD0|V|0=0,1=1|:|0|-";
        QTest::newRow("none") << QByteArray() << false << "" << ad0 << ""
                              << "" << head + "reconnect=off\nlanguage=\n";
        QTest::newRow("all set") << QByteArray("reconnect=on\nlanguage=en\ntrend-span=10min\n") << true
                                 << "en" << ad0 << ""
                                 << "" << QByteArray("reconnect=on\nlanguage=en\ntrend-span=10min\n");
        QTest::newRow("a value it does not take, an unknown key")
            << QByteArray("reconnect=maybe\r\nlanguage=fr\nfuture=1\n") << false << "" << ad0 << ""
            << "" << QByteArray("reconnect=maybe\r\nlanguage=fr\nfuture=1\n");
        QTest::newRow("comments, blank lines and a Latin-1 byte kept; the span rewritten in place")
            << QByteArray("# mine\n; also mine\n\nmykey=caf\xe9\r\n  trend-span = 10min\r\nfuture=1") << false
            << "" << ad0 << "1h"
            << "" << QByteArray("# mine\n; also mine\n\nmykey=caf\xe9\r\ntrend-span=1h\r\nfuture=1");
        QTest::newRow("the last line that counts is rewritten")
            << QByteArray("trend-span=1h\ntrend-span=10min\n#trend-span=all\n") << false << "" << ad0
            << "1min"
            << "" << QByteArray("trend-span=1h\ntrend-span=1min\n#trend-span=all\n");
        QTest::newRow("a key the file lacks added at its end, as its lines end")
            << QByteArray("mykey=1\r\nlanguage=ja") << false << "ja" << ad0 << "all"
            << "" << QByteArray("mykey=1\r\nlanguage=ja\r\ntrend-span=all\r\n");
        // 1 MiB exactly, the last line too.
        QTest::newRow("1 MiB read whole")
            << QByteArray("#" + QByteArray(1048544, 'x') + "\nreconnect=on\ntrend-span=10min\n") << true << ""
            << ad0 << "1h"
            << "" << QByteArray("#" + QByteArray(1048544, 'x') + "\nreconnect=on\ntrend-span=1h\n");
        const QByteArray oven =
            "ad0.name=Oven\nad0.unit=\xc2\xb0\x43\nad0.scale=0=0,5=500\nad0.limits=100:400\n"
            "ad0.hold=2.5\nad0.hysteresis=3\nad1.limits=:1.5\n";
        QTest::newRow("a channel read and written back as it is")
            << oven << false << "" << "Oven|°C|0=0,5=500|100:400|2.5|3" << "" << "" << oven;
        const QByteArray bad =
            "ad0.scale=1=0,1=5\nad0.limits=400:100\nad0.hold=-1\nad0.name=a,b\nad0.unit=\xb0\x43\n"
            "ad0.hysteresis=x\n";
        QTest::newRow("values it does not take: the defaults, the lines kept")
            << bad << false << "" << ad0 << "" << "" << bad;
        QTest::newRow("a channel's unit rewritten in place, the user's lines kept")
            << QByteArray("# oven\nad0.unit = degC\r\nad0.scale=0=0,5=500\n") << false << ""
            << "AD0|degC|0=0,5=500|:|0|-"
            << ""
            << "°C" << QByteArray("# oven\nad0.unit=\xc2\xb0\x43\r\nad0.scale=0=0,5=500\n");
        QTest::newRow("a channel's unit added, a new file with it")
            << QByteArray() << false << "" << ad0 << ""
            << "°C" << head + "reconnect=off\nlanguage=\nad0.unit=\xc2\xb0\x43\n";
        const QByteArray unreadable = QByteArrayLiteral(
            "ad0.scale=0=0,1=1e308\nad0.limits=:1e15\nad0.unit=a\0b\nad0.name=a\tb\nad0.hysteresis=1e14\n");
        QTest::newRow("numbers that cannot be read back, control characters: the defaults, the lines kept")
            << unreadable << false << "" << ad0 << ""
            << "" << unreadable;
        // The limits are read at the scale of the whole file, whichever line comes first.
        const QByteArray limitsFirst = "ad0.limits=:1e14\nad0.scale=0=0,5=500\nad0.hysteresis=0.5\n";
        QTest::newRow("limits of 15 digits at the scale after them") << limitsFirst << false << ""
                                                                     << "AD0|V|0=0,5=500|:1e+14|0|0.5"
                                                                     << ""
                                                                     << "" << limitsFirst;
    }
    void appSettingsFile() {
        QFETCH(QByteArray, file);
        QFETCH(bool, reconnect);
        QFETCH(QString, language);
        QFETCH(QString, ad0);
        QFETCH(QString, span);
        QFETCH(QString, unit);
        QFETCH(QByteArray, written);
        const QString folder = temp_->filePath("config/tavrin");
        if (!file.isEmpty()) {
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(WriteFile(folder + "/tavrin.conf", file));
        }
        AppSettingsLoad load = LoadAppSettings(folder);
        QCOMPARE(load.problem, QString());
        QCOMPARE(load.settings.reconnect, reconnect);
        QCOMPARE(load.settings.language, language);
        const channels::Channel& c = load.settings.channels[0];
        const QString hysteresis = c.limits.hysteresis ? channels::NumberText(*c.limits.hysteresis) : "-";
        QCOMPARE(QStringList({c.name, c.unit, channels::ScaleText(c.scale), channels::LimitsText(c.limits),
                              channels::NumberText(c.limits.holdS), hysteresis})
                     .join('|'),
                 ad0);
        QCOMPARE(load.settings.leaveFile, false);
        if (!span.isEmpty())
            load.settings.trendSpan = span;
        if (!unit.isEmpty())
            load.settings.channels[0].unit = unit;
        QVERIFY(SaveAppSettings(folder, load.settings));
        QCOMPARE(ReadFile(folder + "/tavrin.conf"), written);
    }

    // Each line of the program's keys whose value is not taken is said, with what it wants; the rest is read.
    void appSettingsFileSaysWhatItDoesNotTake_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("ad0"); // name|unit|scale|limits
        QTest::addColumn<QStringList>("notices");
        const QString at = "The settings file %1, line ";
        QTest::newRow("all taken") << QByteArray("ad0.scale=0=0,5=500\nad0.limits=100:400\n")
                                   << "AD0|V|0=0,5=500|100:400" << QStringList();
        QTest::newRow("a scale that gives inf")
            << QByteArray("# oven\nad0.scale=0=0,1=1e308\nad0.unit=K\n") << "AD0|K|0=0,1=1|:"
            << QStringList{
                   at +
                   "2: the value of ad0.scale is not taken (it wants a line whose values for readings of "
                   "0.00 V to 9.99 V stay below 1e+15 in size (15 digits with the 0 decimals it needs), "
                   "not one that gives inf at 9.99 V); the line is left as it is."};
        QTest::newRow("limits too large for the scale after them")
            << QByteArray("ad0.limits=:1e13\nad0.scale=0=0,1=2\n") << "AD0|V|0=0,1=2|:"
            << QStringList{
                   at + "1: the value of ad0.limits is not taken (it wants a number below 1e+13 in size (15 "
                        "digits with the 2 decimals of the channel's scale)); the line is left as it is."};
        QTest::newRow("a unit with NUL, a name with U+2028")
            << QByteArrayLiteral("ad0.unit=a\0b\nad0.name=a\xe2\x80\xa8\x62\n") << "AD0|V|0=0,1=1|:"
            << QStringList{
                   at + "1: the value of ad0.unit is not taken (it wants a unit that is not empty, has at "
                        "most "
                        "64 characters and holds no comma, quote or control character (tab, line end, NUL, "
                        "U+0085, U+2028 and the like)); the line is left as it is.",
                   at + "2: the value of ad0.name is not taken (it wants a name that is not empty, has at "
                        "most "
                        "64 characters and holds no comma, quote or control character (tab, line end, NUL, "
                        "U+0085, U+2028 and the like)); the line is left as it is."};
    }
    void appSettingsFileSaysWhatItDoesNotTake() {
        QFETCH(QByteArray, file);
        QFETCH(QString, ad0);
        QFETCH(QStringList, notices);
        const QString folder = temp_->filePath("config/tavrin");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(WriteFile(folder + "/tavrin.conf", file));
        const AppSettingsLoad load = LoadAppSettings(folder);
        const channels::Channel& c = load.settings.channels[0];
        QCOMPARE(QStringList({c.name, c.unit, channels::ScaleText(c.scale), channels::LimitsText(c.limits)})
                     .join('|'),
                 ad0);
        QStringList expected;
        for (const QString& notice : notices)
            expected << notice.arg(folder + "/tavrin.conf");
        QCOMPARE(load.notices, expected);
    }

    // A settings file that cannot be read whole is refused without being opened when it is no
    // regular file (a FIFO never holds up the start) and never cut: it is left exactly as it is,
    // by that session's saves and by a save that finds it so.
    void appSettingsFileLeftAlone_data() {
        QTest::addColumn<Standing>("standing");
        QTest::addColumn<QString>("cause");
        QTest::newRow("FIFO") << Standing::Fifo << "it is a FIFO, not a regular file";
        QTest::newRow("folder") << Standing::Folder << "it is a folder, not a regular file";
        QTest::newRow("link to a device")
            << Standing::LinkToDevice << "it is a link to a device, not to a regular file";
        QTest::newRow("write-only file") << Standing::WriteOnlyFile << "Permission denied";
        QTest::newRow("1 MiB and a byte")
            << Standing::TooLarge
            << "it is 1048577 bytes, more than the 1048576 bytes (1 MiB) a settings file may hold";
    }
    void appSettingsFileLeftAlone() {
        QFETCH(Standing, standing);
        QFETCH(QString, cause);
        const QString folder = MakeFolder("config/tavrin", FolderState::Writable);
        const QString path = folder + "/tavrin.conf";
        const QByteArray name = QFile::encodeName(path);
        const QByteArray bytes = standing == Standing::TooLarge
                                     ? "mykey=1\n" + QByteArray(1048554, '#') + "\nreconnect=on\nx"
                                     : QByteArray("mykey=1\nreconnect=on\n");
        if (standing == Standing::Fifo)
            QVERIFY(::mkfifo(name.constData(), 0666) == 0 && QFile::setPermissions(path, kWritableFile));
        else if (standing == Standing::Folder)
            QVERIFY(QDir().mkdir(path));
        else if (standing == Standing::LinkToDevice)
            QVERIFY(QFile::link("/dev/null", path));
        else
            QVERIFY(WriteFile(path, bytes) &&
                    QFile::setPermissions(path, standing == Standing::TooLarge ? kWritableFile
                                                                               : QFile::WriteOwner));
        struct stat before = {}, after = {};
        QCOMPARE(::lstat(name.constData(), &before), 0);

        const UnprivilegedUser user;
        if (standing == Standing::WriteOnlyFile && !user.PermissionsBind())
            QSKIP("cannot run as an ordinary user");
        AppSettingsLoad load;
        {
            const FifoPartner partner(standing == Standing::Fifo ? name : QByteArray());
            load = LoadAppSettings(folder);
            QVERIFY(!partner.MetReader());
        }
        QCOMPARE(load.problem,
                 QStringLiteral("The settings file %1 cannot be read (%2); the defaults are used. It "
                                "is left as it is: changes to these settings are kept until Tavrin "
                                "ends, and not written to it.")
                     .arg(path, cause));
        QCOMPARE(load.settings.reconnect, false);
        QCOMPARE(load.settings.leaveFile, true);
        load.settings.reconnect = true;
        const auto saved = SaveAppSettings(folder, load.settings);
        QVERIFY(!saved);
        QCOMPARE(saved.Reason(),
                 QStringLiteral("The settings file %1 cannot be saved (it could not be read whole "
                                "at start); it is left as it was.")
                     .arg(path));
        load.settings.leaveFile = false; // as if it had been read at start
        report::Done savedAnew;
        {
            const FifoPartner partner(standing == Standing::Fifo ? name : QByteArray());
            savedAnew = SaveAppSettings(folder, load.settings);
            QVERIFY(!partner.MetReader());
        }
        QVERIFY(!savedAnew);
        QCOMPARE(savedAnew.Reason(),
                 QStringLiteral("The settings file %1 cannot be saved (%2); it is left as it was.")
                     .arg(path, cause));
        QCOMPARE(::lstat(name.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_size, before.st_size);
        QCOMPARE(
            QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"tavrin.conf"});
        if (standing == Standing::TooLarge)
            QCOMPARE(ReadFile(path), bytes);
    }
};

QTEST_GUILESS_MAIN(ParameterFileTest)
#include "parameter_file_test.moc"

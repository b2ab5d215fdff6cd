// The installed program from the outside: `cmake --install` into a scratch
// prefix, then every file the desktop and udev look for is where they look, the
// menu entry and the udev rule do what they should, and the installed programs
// run on their own, away from the build tree.
#include "device/backends/tty_open_problem.h"
#include "tests/install/udev_rules.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <cerrno>
#include <optional>
#include <sys/stat.h>

using testing::UdevAccess;
using testing::UdevDevice;

Q_DECLARE_METATYPE(UdevDevice)

namespace {

constexpr int kProcessLimitMs = 120000;
const QString kRulesFolder = QStringLiteral("lib/udev/rules.d");
const QString kRulesFile = QStringLiteral("70-tavrin-ftdi.rules");
const QString kDesktopFile = QStringLiteral("share/applications/tavrin.desktop");

struct Outcome {
    int exitCode;
    QString out;
    QString err;
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The [Desktop Entry] group's keys.
QMap<QString, QString> DesktopEntry(const QString& text) {
    QMap<QString, QString> keys;
    bool inEntry = false;
    for (const QString& line : text.split('\n')) {
        if (line.startsWith('['))
            inEntry = line.trimmed() == QStringLiteral("[Desktop Entry]");
        else if (const qsizetype eq = line.indexOf('='); inEntry && eq > 0)
            keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return keys;
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT

    QTemporaryDir scratch_;
    QString prefix_;

    QString Installed(const QString& relative) const { return QDir(prefix_).filePath(relative); }

    // Runs a program with a home and configuration of its own in the scratch folder,
    // so nothing of the user's is read or written.
    Outcome Run(const QString& program, const QStringList& arguments) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", scratch_.filePath("home"));
        env.insert("XDG_CONFIG_HOME", scratch_.filePath("config"));
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        if (!process.waitForFinished(kProcessLimitMs)) {
            process.kill();
            process.waitForFinished();
            return {-1, QString(), program + QStringLiteral(" did not finish: ") + process.errorString()};
        }
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2,
                QString::fromLocal8Bit(process.readAllStandardOutput()),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

private slots:
    void initTestCase() {
        QVERIFY(scratch_.isValid());
        prefix_ = scratch_.filePath("prefix");
        QVERIFY(QDir().mkpath(scratch_.filePath("home")));
        // An install writes its manifest into the build folder; keep the one a real
        // install left there, which is what an uninstall goes by.
        const QString manifest = QDir(QStringLiteral(TAVRIN_BUILD_DIR)).filePath("install_manifest.txt");
        const std::optional<QByteArray> kept =
            QFile::exists(manifest) ? std::optional(ReadAll(manifest)) : std::nullopt;

        const Outcome install = Run(QStringLiteral(TAVRIN_CMAKE_COMMAND),
                                    {"--install", QStringLiteral(TAVRIN_BUILD_DIR), "--prefix", prefix_});

        QFile restored(manifest);
        if (kept)
            QVERIFY(restored.open(QIODevice::WriteOnly) && restored.write(*kept) == kept->size());
        else
            restored.remove();
        QVERIFY2(install.exitCode == 0, qPrintable(install.out + install.err));
    }

    void FilesAreInstalled_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("program");
        QTest::newRow("logger") << "bin/tavrin" << true;
        QTest::newRow("unit emulator") << "bin/unit-emulator" << true;
        QTest::newRow("menu entry") << kDesktopFile << false;
        QTest::newRow("icon") << "share/icons/hicolor/scalable/apps/tavrin.svg" << false;
        QTest::newRow("udev rule") << kRulesFolder + '/' + kRulesFile << false;
    }
    void FilesAreInstalled() {
        QFETCH(QString, path);
        QFETCH(bool, program);
        const QFileInfo file(Installed(path));
        QVERIFY2(file.isFile(), qPrintable(file.filePath()));
        QVERIFY(file.size() > 0);
        QCOMPARE(file.isExecutable(), program);
    }

    void DesktopEntryPassesTheValidator() {
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
        const Outcome o = Run(validator, {Installed(kDesktopFile)});
        QVERIFY2(o.exitCode == 0, qPrintable(o.out + o.err));
    }

    void DesktopEntryStartsTheInstalledProgramWithItsIcon() {
        const QMap<QString, QString> entry =
            DesktopEntry(QString::fromUtf8(ReadAll(Installed(kDesktopFile))));
        QCOMPARE(entry.value("Type"), QStringLiteral("Application"));
        QCOMPARE(entry.value("Terminal"), QStringLiteral("false"));
        // A menu launches from PATH: the command must be a program the install put in bin/.
        const QString command = entry.value("Exec").section(' ', 0, 0);
        QVERIFY2(QFileInfo(Installed("bin/" + command)).isExecutable(), qPrintable(entry.value("Exec")));
        // The icon is looked up by name in the hicolor theme.
        const QString icon = Installed("share/icons/hicolor/scalable/apps/" + entry.value("Icon") + ".svg");
        QVERIFY2(QFile::exists(icon), qPrintable(icon));
        QVERIFY(entry.value("Categories").split(';').contains("Science"));
    }

    void IconIsASquareSvg() {
        QXmlStreamReader xml(ReadAll(Installed("share/icons/hicolor/scalable/apps/tavrin.svg")));
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name(), QStringLiteral("svg"));
        QCOMPARE(xml.namespaceUri(), QStringLiteral("http://www.w3.org/2000/svg"));
        const QStringList box = xml.attributes().value("viewBox").toString().split(' ', Qt::SkipEmptyParts);
        QCOMPARE(box.size(), 4);
        QCOMPARE(box[2], box[3]);
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    }

    void UdevRuleRunsBeforeSeatAccessAndIsTheOneUsersAreToldOf() {
        const QStringList ours =
            QDir(Installed(kRulesFolder)).entryList({"*tavrin*"}, QDir::Files, QDir::Name);
        QCOMPARE(ours, QStringList{kRulesFile});
        // udev runs rules files in name order; uaccess is acted on in 73-seat-late.rules.
        QVERIFY(ours.first() < QStringLiteral("73-seat-late.rules"));
        const QString message = QString::fromStdString(device::TtyOpenProblem("/dev/ttyUSB0", EACCES));
        QVERIFY2(message.contains(kRulesFile), qPrintable(message));
    }

    void UdevRuleGivesAccessToFtdiUnitsOnly_data() {
        QTest::addColumn<UdevDevice>("device");
        QTest::addColumn<bool>("granted");
        const QMap<QString, QString> ftdi{{"idVendor", "0403"}, {"idProduct", "6001"}};
        const QMap<QString, QString> other{{"idVendor", "067b"}, {"idProduct", "2303"}};
        QTest::newRow("FTDI serial port") << UdevDevice{"tty", "ttyUSB0", {}, ftdi} << true;
        QTest::newRow("FTDI serial port, tenth") << UdevDevice{"tty", "ttyUSB10", {}, ftdi} << true;
        QTest::newRow("FTDI USB device") << UdevDevice{"usb", "1-2", ftdi, {}} << true;
        QTest::newRow("other vendor's serial port") << UdevDevice{"tty", "ttyUSB0", {}, other} << false;
        QTest::newRow("other vendor's USB device") << UdevDevice{"usb", "1-2", other, {}} << false;
        QTest::newRow("built-in serial port") << UdevDevice{"tty", "ttyS0", {}, {}} << false;
        QTest::newRow("FTDI USB disk") << UdevDevice{"block", "sdb", {}, ftdi} << false;
    }
    void UdevRuleGivesAccessToFtdiUnitsOnly() {
        QFETCH(UdevDevice, device);
        QFETCH(bool, granted);
        QString error;
        const auto rules = testing::ParseUdevRules(
            QString::fromUtf8(ReadAll(Installed(kRulesFolder + '/' + kRulesFile))), &error);
        QVERIFY2(rules.has_value(), qPrintable(error));
        const UdevAccess access = testing::ApplyUdevRules(*rules, device);
        QCOMPARE(access.tags.contains("uaccess"), granted);
        QCOMPARE(access.group, granted ? QStringLiteral("dialout") : QString());
        QCOMPARE(access.mode, granted ? QStringLiteral("0660") : QString());
    }

    void UdevReaderRefusesWhatUdevWouldNotDo_data() {
        QTest::addColumn<QString>("rule");
        QTest::newRow("assignment where a match belongs") << R"(ATTRS{idVendor}="0403", TAG+="uaccess")";
        QTest::newRow("misspelt key") << R"(ATRS{idVendor}=="0403", TAG+="uaccess")";
        QTest::newRow("unquoted value") << R"(SUBSYSTEM==usb, TAG+="uaccess")";
        QTest::newRow("attribute without a name") << R"(ATTR=="0403", TAG+="uaccess")";
        QTest::newRow("missing comma") << R"(SUBSYSTEM=="usb" TAG+="uaccess")";
    }
    void UdevReaderRefusesWhatUdevWouldNotDo() {
        QFETCH(QString, rule);
        QString error;
        QVERIFY(!testing::ParseUdevRules("# a comment\n" + rule + '\n', &error).has_value());
        QVERIFY2(error.startsWith("line 2: "), qPrintable(error));
    }

    void InstalledProgramsAnswer_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("answer");
        QTest::newRow("logger version")
            << "bin/tavrin" << QStringList{"--version"} << QStringLiteral("tavrin " TAVRIN_VERSION "\n");
        QTest::newRow("logger help") << "bin/tavrin" << QStringList{"--help"} << "--device";
        QTest::newRow("emulator help") << "bin/unit-emulator" << QStringList{"--help"} << "--path";
    }
    void InstalledProgramsAnswer() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, answer);
        const Outcome o = Run(Installed(program), arguments);
        QVERIFY2(o.exitCode == 0, qPrintable(o.err));
        QVERIFY2(o.out.contains(answer), qPrintable(o.out));
    }

    void HelpNamesTheSettingsFileInUseAndLeavesItAlone() {
        const Outcome o = Run(Installed("bin/tavrin"), {"--help"});
        QCOMPARE(o.exitCode, 0);
        const QRegularExpressionMatch named =
            QRegularExpression(QStringLiteral("Settings file in use: (.*)$"),
                               QRegularExpression::MultilineOption)
                .match(o.out);
        QVERIFY2(named.hasMatch(), qPrintable(o.out));
        // A folder of one's own: the program keeps its settings beside itself.
        QCOMPARE(named.captured(1).trimmed(), Installed("bin/ombu01.par"));
        QVERIFY(!QFile::exists(Installed("bin/ombu01.par")));
    }

    void InstalledEmulatorOffersATerminal() {
        QProcess emulator;
        emulator.start(Installed("bin/unit-emulator"), {});
        QVERIFY2(emulator.waitForStarted(), qPrintable(emulator.errorString()));
        // Its first line is the terminal to open; false from the wait means it ended or hung.
        while (!emulator.canReadLine() && emulator.waitForReadyRead(kProcessLimitMs)) {
        }
        const QString path = QString::fromLocal8Bit(emulator.readLine()).trimmed();
        struct stat info {};
        const bool terminal = ::stat(path.toLocal8Bit().constData(), &info) == 0 && S_ISCHR(info.st_mode);
        emulator.terminate();
        QVERIFY(emulator.waitForFinished(kProcessLimitMs));
        QVERIFY2(terminal, qPrintable(path + QString::fromLocal8Bit(emulator.readAllStandardError())));
        QCOMPARE(emulator.exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "install_test.moc"

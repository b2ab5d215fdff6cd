// Runs of the window against the unit emulator on a pseudo-terminal, through the
// kernel tty backend and Qt's own event loop in real time: replies in
// pieces, with noise before them and bursts after them, and the terminal closing
// under the reader when the emulator is killed. Every run must end the right way,
// in bounded wall time, with the log (and any saved sweep) holding exactly what
// was read.
#include "acquisition/session.h"
#include "app/log_pane/log_view.h"
#include "device/backends/backend_factory.h"
#include "output/run_header.h"
#include "tests/soak/recording_backend.h"
#include "tests/soak/sweep_log_oracle.h"
#include "tests/support/form_fixture.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QEventLoop>
#include <QTimer>

namespace {

// The reply wait is 10 ticks: half a second for the emulator to answer, so that a stall of the
// emulator on a loaded machine, while the ticks go on, cannot end a run by the time-out.
constexpr int kTickMs = 50;
constexpr int kWatchdogMs = 180'000; // a run still going after this is taken as hung
constexpr int kProcessWaitMs = 60'000;
const QDateTime kNow(QDate(2026, 12, 7), QTime(10, 20, 30));
const QString kBaseName = QStringLiteral("tavrin");

// How a run is brought to its end, at the given read or request.
enum class Ending {
    Stop,             // STOP at a read
    KillAtRead,       // the emulator killed at a read: its terminal closes under the reader
    KillAwaitingReply // killed as a request goes out: the terminal closes during the reply wait
};

// A window on the emulator's pseudo-terminal, set for a long unattended run:
// sampling time 1, continuous measurement and auto-save in a temporary folder.
class EmulatorRig {
public:
    EmulatorRig()
        : oracle([this](quint16 index) {
              return output::RunHeaderLines(kNow, QLocale(), form->Edit2->text(), kBaseName, index);
          }) {}
    ~EmulatorRig() {
        form.reset();
        SetMessageBeepHandler({});
        SetD2xxBackend(nullptr);
        if (emulator.state() != QProcess::NotRunning) {
            emulator.terminate();
            emulator.waitForFinished(kProcessWaitMs);
        }
    }

    // Starts the emulator and opens its terminal; empty, or what went wrong.
    QString Start(const QStringList& emulatorArguments) {
        emulator.start(QStringLiteral(UNIT_EMULATOR_PATH), emulatorArguments);
        if (!emulator.waitForStarted(kProcessWaitMs))
            return QStringLiteral("the emulator did not start");
        while (!emulator.canReadLine())
            if (!emulator.waitForReadyRead(kProcessWaitMs))
                return QStringLiteral("the emulator named no terminal: ") + emulator.readAllStandardError();
        const QString path = QString::fromLocal8Bit(emulator.readLine()).trimmed();

        auto tty = device::MakeBackend(QStringLiteral("tty:") + path);
        if (!tty)
            return tty.Reason();
        SetD2xxBackend(std::make_unique<soak::RecordingBackend>(
            std::move(*tty),
            [this](std::string_view bytes) {
                oracle.Read(form->FileIndex, bytes);
                if (onRead)
                    onRead();
            },
            [this] {
                ++requests;
                if (onWrite)
                    onWrite();
            }));
        SetMessageBeepHandler([this] { ++beeps; });

        QDir::setCurrent(folder.path());
        FormSeams seams;
        seams.runTimer = true;
        seams.tickMs = kTickMs;
        seams.now = [] { return kNow; };
        seams.parameterFolder = folder.path();
        seams.colorDialog = &colorDialog;
        seams.errorsToStandardError = true;
        form = std::make_unique<TForm1>(seams);
        form->FormShow();
        if (form->Unit().Handle() == nullptr)
            return QStringLiteral("the terminal did not open: ") + form->Label3->text();
        form->SamplingTime = 1;
        form->Edit2->setText(QStringLiteral("1"));
        form->CheckBox5->setChecked(true);
        form->CheckBox6->setChecked(true);
        return {};
    }

    // One START, with a watchdog that presses STOP should the run never end.
    void Run() {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, form.get(), [this] {
            if (form->RunInProgress()) {
                hung = true;
                form->Button4Click();
            }
        });
        watchdog.start(kWatchdogMs);
        oracle.Restart();
        // The run goes on in the event loop, as in the program, until it ends.
        QEventLoop loop;
        QObject::connect(form.get(), &TForm1::RunEnded, &loop, &QEventLoop::quit);
        form->Button3Click();
        if (form->RunInProgress())
            loop.exec();
        problems += oracle.CheckSavedBelow(form->FileIndex, QDir::current(), kBaseName);
    }

    QProcess emulator;
    QTemporaryDir folder;
    testing::ScriptedColorDialog colorDialog;
    std::unique_ptr<TForm1> form;
    soak::SweepLogOracle oracle;
    std::function<void()> onRead;
    std::function<void()> onWrite;
    long requests = 0;
    QStringList problems;
    int beeps = 0;
    bool hung = false;
};

} // namespace

class EmulatorRunsTest : public QObject {
    Q_OBJECT

private slots:
    void runOnThePseudoTerminal_data() {
        QTest::addColumn<QStringList>("emulatorArguments");
        QTest::addColumn<int>("ending");
        QTest::addColumn<int>("at");
        QTest::newRow("pieces after noise, a sweep saved, STOP")
            << QStringList{"--pieces", "3", "--leading", "5"} << int(Ending::Stop) << 610;
        QTest::newRow("bursts of 326 bytes, terminal closed mid-run")
            << QStringList{"--pieces", "3", "--leading", "5", "--trailing", "300", "--delay-us", "6000"}
            << int(Ending::KillAtRead) << 100;
        QTest::newRow("slow replies, terminal closed during a reply wait")
            << QStringList{"--pieces", "4", "--delay-us", "20000"} << int(Ending::KillAwaitingReply) << 60;
    }
    void runOnThePseudoTerminal() {
        QFETCH(QStringList, emulatorArguments);
        QFETCH(int, ending);
        QFETCH(int, at);
        EmulatorRig rig;
        const QString problem = rig.Start(emulatorArguments);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        TForm1& form = *rig.form;

        bool acted = false;
        const auto act = [&] {
            acted = true;
            if (Ending(ending) == Ending::Stop)
                form.Button4Click();
            else
                rig.emulator.kill(); // the terminal closes with it, whatever is still queued
        };
        rig.onRead = [&] {
            if (!acted && Ending(ending) != Ending::KillAwaitingReply && rig.oracle.Reads() >= at)
                act();
        };
        rig.onWrite = [&] {
            if (!acted && Ending(ending) == Ending::KillAwaitingReply && rig.requests >= at)
                act();
        };
        QElapsedTimer wall;
        wall.start();
        rig.Run();
        const qint64 wallMs = wall.elapsed();

        QVERIFY2(!rig.hung, "the run did not end by itself");
        QVERIFY2(acted,
                 qPrintable(QStringLiteral("the run ended after %1 reads, before the test could end it: %2")
                                .arg(rig.oracle.Reads())
                                .arg(form.Label3->text())));
        QVERIFY2(rig.problems.isEmpty(), qPrintable(rig.problems.join(QLatin1Char('\n'))));
        const bool killed = Ending(ending) != Ending::Stop;
        QCOMPARE(form.LastRunEnd(), killed ? TForm1::LastRun::TimedOut : TForm1::LastRun::Normal);
        QCOMPARE(form.Label3->text(), killed ? acquisition::kStatusNoResponse : acquisition::kStatusFinished);
        QVERIFY(form.Button3->isEnabled());
        QCOMPARE(rig.beeps, int(rig.oracle.FrameErrors()) + form.FileIndex + 1); // + STOP or the time-out
        // A closed terminal is named after what was read, with the port's own reason.
        QByteArray log = form.Memo1->Store().FileBytes();
        if (killed) {
            const qsizetype named = log.lastIndexOf("unit unplugged: /dev/pts/");
            QVERIFY2(named >= 0 && log.endsWith("\r\n") && log.indexOf('\n', named) == log.size() - 1,
                     log.right(200).constData());
            log.truncate(named);
        }
        const QString logDifference = soak::FirstDifference(rig.oracle.Expected(form.FileIndex), log);
        QVERIFY2(logDifference.isEmpty(), qPrintable(QStringLiteral("the log: ") + logDifference));
        if (!killed) {
            QCOMPARE(rig.oracle.FilesChecked(), 1);
        } else {
            // QProcess may already have seen it go inside the run's pumps.
            QVERIFY(rig.emulator.state() == QProcess::NotRunning ||
                    rig.emulator.waitForFinished(kProcessWaitMs));
            QCOMPARE(rig.emulator.exitStatus(), QProcess::CrashExit);
        }
        if (Ending(ending) == Ending::KillAwaitingReply)
            QCOMPARE(rig.oracle.Reads(), long(at - 1)); // the request the terminal closed on had no reply
        qInfo("%ld reads (%ld frame errors), %d sweep files checked, ended with \"%s\" after %lld ms",
              rig.oracle.Reads(), rig.oracle.FrameErrors(), rig.oracle.FilesChecked(),
              qPrintable(form.Label3->text()), wallMs);
    }
};

QTEST_MAIN(EmulatorRunsTest)
#include "emulator_runs_test.moc"

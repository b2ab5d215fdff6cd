#include "device/backends/tty_backend.h"
#include "device/backends/tty_open_problem.h"
#include "device/exchange.h"
#include "device/ready_watch.h"
#include "pty_pair.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using device::TtyBackend;

namespace {

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;

// The D2XX calls over one given terminal.
std::unique_ptr<device::CheckedD2xx> OverPort(const std::string& path) {
    return std::make_unique<device::CheckedD2xx>(TtyBackend::ForPort(path));
}
const QByteArray kRequest("AL\r");
const QByteArray kFrame("AD0=123 V, AD1=456\x35\r\n");

// The logger's side of a pseudo-terminal, connected the way the connection does it.
struct Connected {
    PtyPair pty;
    std::unique_ptr<device::CheckedD2xx> backend;
    FT_HANDLE handle = nullptr;

    Connected() {
        if (!pty.Valid())
            return;
        backend = OverPort(pty.Path());
        char serial[64] = {};
        if (backend->ListDevices(0, serial, kListFlags) != FT_OK ||
            backend->OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
            handle = nullptr;
    }
    bool Ok() const { return handle != nullptr; }
    DWORD Queued() {
        DWORD rx = 0, tx = 0, events = 0;
        backend->GetStatus(handle, &rx, &tx, &events);
        return rx;
    }
};

// The program's watch, counting how often the unit's readiness woke the wait.
class CountingWatch : public device::EventLoopWatch {
public:
    void Watch(const DataWakeup& wakeup, std::function<void()> ready) override {
        EventLoopWatch::Watch(wakeup, [this, ready = std::move(ready)] {
            ++wakes;
            ready();
        });
    }
    int wakes = 0;
};

} // namespace

class TtyBackendTest : public QObject {
    Q_OBJECT

private slots:
    void ListsAndOpensTheGivenPort() {
        Connected c;
        QVERIFY(c.Ok());
        char serial[64] = {};
        QCOMPARE(c.backend->ListDevices(0, serial, kListFlags), FT_OK);
        QCOMPARE(std::string(serial), c.pty.Path());
        QCOMPARE(c.backend->ListDevices(1, serial, kListFlags), FT_DEVICE_NOT_FOUND);
        QCOMPARE(c.backend->ListDevices(0, nullptr, kListFlags), FT_INVALID_PARAMETER);
        QVERIFY(c.backend->Wakeup(c.handle, 21).fd >= 0);
        QCOMPARE(QByteArray(c.backend->LastProblem()), QByteArray());
    }

    // The unit's replies carry CR LF and arbitrary bytes: nothing may be translated.
    void OpensRawAndExclusive() {
        Connected c;
        QVERIFY(c.Ok());
        const int probe = ::open(c.pty.Path().c_str(), O_RDWR | O_NOCTTY);
        QVERIFY(probe >= 0);
        termios tio{};
        QCOMPARE(::tcgetattr(probe, &tio), 0);
        QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
        QCOMPARE(tio.c_iflag & (ICRNL | IXON), tcflag_t(0));
        QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(tio.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
        QCOMPARE(int(tio.c_cc[VMIN]), 0);
        QCOMPARE(::cfgetospeed(&tio), speed_t(B38400));
        int exclusive = 0;
        QCOMPARE(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 1);
        // Let go, the port is free for the next program even though the terminal lives on.
        c.backend.reset();
        QCOMPARE(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
        QCOMPARE(exclusive, 0);
        ::close(probe);
    }

    void ExchangesAFrameInTwoPieces() {
        Connected c;
        QVERIFY(c.Ok());
        DWORD written = 0;
        QCOMPARE(c.backend->Write(c.handle, kRequest.constData(), 3, &written), FT_OK);
        QCOMPARE(written, DWORD(3));
        QCOMPARE(c.pty.ReadMaster(3), kRequest);

        QVERIFY(c.pty.WriteMaster(kFrame.left(10)));
        QCOMPARE(WaitForQueued(*c.backend, c.handle, 9), DWORD(10));
        QCOMPARE(c.Queued(), DWORD(10));
        QVERIFY(c.pty.WriteMaster(kFrame.mid(10)));
        QCOMPARE(WaitForQueued(*c.backend, c.handle, 20), DWORD(21));

        char buffer[256] = {};
        DWORD got = 0;
        QCOMPARE(c.backend->Read(c.handle, buffer, 21, &got), FT_OK);
        QCOMPARE(got, DWORD(21));
        QCOMPARE(QByteArray(buffer, int(got)), kFrame);
        QCOMPARE(c.Queued(), DWORD(0));
        // Nothing queued: an empty read, not a failure.
        QCOMPARE(c.backend->Read(c.handle, buffer, 21, &got), FT_OK);
        QCOMPARE(got, DWORD(0));
    }

    void ReadTakesNoMoreThanAskedFor() {
        Connected c;
        QVERIFY(c.Ok());
        QByteArray burst;
        for (int i = 0; i < 300; ++i)
            burst += char('0' + i % 10);
        QVERIFY(c.pty.WriteMaster(burst));
        QCOMPARE(WaitForQueued(*c.backend, c.handle, 299), DWORD(300));

        char buffer[256] = {};
        DWORD got = 0;
        QCOMPARE(c.backend->Read(c.handle, buffer, 255, &got), FT_OK);
        QCOMPARE(got, DWORD(255));
        QCOMPARE(QByteArray(buffer, 255), burst.left(255));
        QCOMPARE(c.Queued(), DWORD(45));
        QCOMPARE(c.backend->Read(c.handle, buffer, 255, &got), FT_OK);
        QCOMPARE(QByteArray(buffer, int(got)), burst.mid(255));
    }

    void PurgeDropsQueuedBytes() {
        Connected c;
        QVERIFY(c.Ok());
        QVERIFY(c.pty.WriteMaster("stale"));
        QCOMPARE(WaitForQueued(*c.backend, c.handle, 4), DWORD(5));
        QCOMPARE(c.backend->Purge(c.handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
        QCOMPARE(c.Queued(), DWORD(0));
    }

    // The reply wait on the real event loop and a 10 ms tick, counted in wake-ups rather than timed:
    // it sleeps until a whole reply's worth is queued or the next tick, so part of a reply sitting in
    // the queue adds no wake-up.
    void ReplyWaitWakesOncePerTick_data() {
        QTest::addColumn<int>("queuedBefore");  // bytes already queued when the request goes out
        QTest::addColumn<int>("restAfterTicks"); // the rest of a 25-byte reply comes then (0: never)
        QTest::addColumn<bool>("replied");
        QTest::addColumn<int>("maxWakes");
        QTest::newRow("silent unit") << 0 << 0 << false << 12;
        QTest::newRow("part of a reply queued") << 10 << 0 << false << 12;
        QTest::newRow("20 bytes queued") << 20 << 0 << false << 12;
        QTest::newRow("rest after three ticks") << 10 << 3 << true << 6;
    }
    void ReplyWaitWakesOncePerTick() {
        QFETCH(int, queuedBefore);
        QFETCH(int, restAfterTicks);
        QFETCH(bool, replied);
        QFETCH(int, maxWakes);
        PtyPair pty;
        QVERIFY(pty.Valid());
        SetD2xxBackend(TtyBackend::ForPort(pty.Path()));
        FT_HANDLE handle = nullptr;
        QCOMPARE(CurrentD2xx().OpenEx(pty.Path().c_str(), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        if (queuedBefore > 0) {
            QVERIFY(pty.WriteMaster(QByteArray(queuedBefore, 'x')));
            QCOMPARE(WaitForQueued(CurrentD2xx(), handle, DWORD(queuedBefore - 1)), DWORD(queuedBefore));
        }
        std::int16_t replyTicks = device::kReplyTimeoutTicks;
        int ticks = 0;
        CountingWatch watch;
        device::RxBufferBytes rx{};
        auto result = device::ExchangeResult::Pending;
        QEventLoop loop;
        std::function<void()> look = [&] {
            if (result != device::ExchangeResult::Pending)
                return;
            FT_STATUS readStatus = FT_OK;
            result = device::TakeReply(handle, replyTicks, rx, readStatus);
            if (result == device::ExchangeResult::Pending) {
                watch.Watch(device::ReplyWakeup(handle), look);
            } else {
                watch.Unwatch();
                loop.quit();
            }
        };
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (replyTicks != 0)
                --replyTicks;
            if (++ticks == restAfterTicks)
                pty.WriteMaster(QByteArray(25 - queuedBefore, 'y'));
            look();
        });
        tick.start(10);
        device::SendRequest(handle);
        look();
        if (result == device::ExchangeResult::Pending)
            loop.exec();
        tick.stop();
        SetD2xxBackend(nullptr);
        QCOMPARE(result == device::ExchangeResult::Replied, replied);
        if (!replied)
            QCOMPARE(ticks, 10);
        const int wakes = watch.wakes + ticks;
        QVERIFY2(wakes <= maxWakes, qPrintable(QStringLiteral("%1 wake-ups in %2 ticks").arg(wakes).arg(ticks)));
    }

    void Settings_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("stop");
        QTest::addColumn<int>("parity");
        QTest::addColumn<FT_STATUS>("status");
        QTest::newRow("the unit's 38400 8N1") << 38400 << 8 << 0 << 0 << FT_OK;
        QTest::newRow("9600 7E2") << 9600 << 7 << 2 << 2 << FT_OK;
        QTest::newRow("odd baud rate") << 12345 << 8 << 0 << 0 << FT_INVALID_PARAMETER;
        QTest::newRow("nine bits") << 38400 << 9 << 0 << 0 << FT_INVALID_PARAMETER;
        QTest::newRow("unknown parity") << 38400 << 8 << 0 << 5 << FT_INVALID_PARAMETER;
    }
    void Settings() {
        QFETCH(int, baud);
        QFETCH(int, bits);
        QFETCH(int, stop);
        QFETCH(int, parity);
        QFETCH(FT_STATUS, status);
        Connected c;
        QVERIFY(c.Ok());
        const FT_STATUS baudStatus = c.backend->SetBaudRate(c.handle, ULONG(baud));
        const FT_STATUS lineStatus =
            c.backend->SetDataCharacteristics(c.handle, UCHAR(bits), UCHAR(stop), UCHAR(parity));
        QCOMPARE(baudStatus == FT_OK && lineStatus == FT_OK ? FT_OK : FT_INVALID_PARAMETER, status);
        // A refused setting leaves the port working.
        QVERIFY(c.pty.WriteMaster("x"));
        QCOMPARE(WaitForQueued(*c.backend, c.handle, 0), DWORD(1));
    }

    // A pseudo-terminal has no RTS line: the calls fail, and the port goes on working.
    void RtsOnAPseudoTerminalFailsHarmlessly() {
        Connected c;
        QVERIFY(c.Ok());
        QVERIFY(c.backend->SetRts(c.handle) != FT_OK);
        QVERIFY(c.backend->ClrRts(c.handle) != FT_OK);
        QVERIFY(c.pty.WriteMaster(kFrame));
        QCOMPARE(WaitForQueued(*c.backend, c.handle, 20), DWORD(21));
    }

    // One unit, one logger: the lock refuses a second opener even where the
    // exclusive-use flag does not (root), with a clear message.
    void ASecondOpenerIsRefused() {
        Connected c;
        QVERIFY(c.Ok());
        auto second = OverPort(c.pty.Path());
        FT_HANDLE handle = nullptr;
        QCOMPARE(second->OpenEx(c.pty.Path().c_str(), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_OPENED);
        QVERIFY(handle == nullptr);
        QCOMPARE(QByteArray(second->LastProblem()),
                 QByteArray(c.pty.Path().c_str()) + " is in use by another program: close that program (a terminal "
                                                    "program, or another Tavrin) and start again");
        // Let go, the port can be opened again.
        c.backend->Close(c.handle);
        QCOMPARE(second->OpenEx(c.pty.Path().c_str(), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    }

    void UnitGone_data() {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<QString>("reason"); // after the terminal's path
        QTest::newRow("still there") << "" << "";
        QTest::newRow("other end closed") << "close" << " has gone away (hung up)";
        QTest::newRow("an I/O error since") << "close, read" << " has gone away (Input/output error)";
        QTest::newRow("path now leads to another terminal") << "relink" << " now leads to another terminal";
        QTest::newRow("path removed") << "remove" << " is not there any more";
    }
    void UnitGone() {
        QFETCH(QString, meanwhile);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString link = dir.filePath("unit");
        PtyPair first, other;
        QVERIFY(QFile::link(QString::fromStdString(first.Path()), link));
        auto backend = OverPort(link.toStdString());
        FT_HANDLE handle = nullptr;
        QCOMPARE(backend->OpenEx(link.toLocal8Bit().constData(), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
        if (meanwhile.startsWith("close"))
            first.CloseMaster();
        if (meanwhile.endsWith("read")) {
            char buffer[32];
            DWORD got = 0;
            QCOMPARE(backend->Read(handle, buffer, sizeof buffer, &got), FT_IO_ERROR);
        }
        if (meanwhile == "relink" || meanwhile == "remove")
            QVERIFY(QFile::remove(link));
        if (meanwhile == "relink")
            QVERIFY(QFile::link(QString::fromStdString(other.Path()), link));
        QCOMPARE(QString::fromStdString(backend->UnitGone(handle)), reason.isEmpty() ? QString() : link + reason);
        QCOMPARE(QString::fromStdString(backend->UnitGone(nullptr)), QStringLiteral("no unit is open"));
    }

    void OtherEndClosingIsAnIoError() {
        Connected c;
        QVERIFY(c.Ok());
        c.pty.CloseMaster();
        DWORD rx = 99, tx = 0, events = 0;
        QCOMPARE(c.backend->GetStatus(c.handle, &rx, &tx, &events), FT_IO_ERROR);
        QCOMPARE(rx, DWORD(0));
        char buffer[256] = {};
        DWORD got = 99;
        QCOMPARE(c.backend->Read(c.handle, buffer, 255, &got), FT_IO_ERROR);
        QCOMPARE(got, DWORD(0));
        DWORD written = 99;
        QCOMPARE(c.backend->Write(c.handle, kRequest.constData(), 3, &written), FT_IO_ERROR);
        QCOMPARE(c.backend->GetStatus(c.handle, &rx, &tx, &events), FT_IO_ERROR);
        QCOMPARE(c.backend->Wakeup(c.handle, 21).fd, -1);
        QVERIFY(QByteArray(c.backend->LastProblem()).contains("gone"));
    }

    // Read must notice the hang-up on its own too, not only after a GetStatus.
    void OtherEndClosingFailsARead() {
        Connected c;
        QVERIFY(c.Ok());
        c.pty.CloseMaster();
        char buffer[32] = {};
        DWORD got = 99;
        QCOMPARE(c.backend->Read(c.handle, buffer, 21, &got), FT_IO_ERROR);
        QCOMPARE(got, DWORD(0));
    }

    void PortsThatCannotBeUsed_data() {
        QTest::addColumn<bool>("plainFile");
        QTest::addColumn<FT_STATUS>("listStatus");
        QTest::addColumn<FT_STATUS>("openStatus");
        QTest::addColumn<QByteArray>("problem");
        QTest::newRow("no such path")
            << false << FT_DEVICE_NOT_FOUND << FT_DEVICE_NOT_FOUND << QByteArray("is not there");
        QTest::newRow("a plain file")
            << true << FT_OK << FT_DEVICE_NOT_OPENED << QByteArray("is not a serial port");
    }
    void PortsThatCannotBeUsed() {
        QFETCH(bool, plainFile);
        QFETCH(FT_STATUS, listStatus);
        QFETCH(FT_STATUS, openStatus);
        QFETCH(QByteArray, problem);
        QTemporaryFile file;
        QVERIFY(file.open());
        const std::string path = plainFile ? file.fileName().toStdString() : "/nonexistent/ttyUSB9";
        auto backend = OverPort(path);
        char serial[64] = {};
        QCOMPARE(backend->ListDevices(0, serial, kListFlags), listStatus);
        FT_HANDLE handle = nullptr;
        QCOMPARE(backend->OpenEx(path.c_str(), FT_OPEN_BY_SERIAL_NUMBER, &handle), openStatus);
        QVERIFY(handle == nullptr);
        QVERIFY2(QByteArray(backend->LastProblem()).contains(problem), backend->LastProblem());
    }

    void SerialNumberOfAPath_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("serial");
        QTest::newRow("short path is its own serial") << "/dev/pts/3"
                                                      << "/dev/pts/3";
        const QString longPath =
            QStringLiteral("/tmp/") + QString(100, QLatin1Char('d')) + QStringLiteral("/tty");
        QTest::newRow("long path keeps its last 63 bytes") << longPath << longPath.right(63);
    }
    void SerialNumberOfAPath() {
        QFETCH(QString, path);
        QFETCH(QString, serial);
        QCOMPARE(QString::fromStdString(TtyBackend::SerialForPath(path.toStdString())), serial);
    }

    void OpenProblems_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QStringList>("mentions");
        const QStringList permission{"Permission denied on /nonexistent/ttyUSB0", "'dialout' group",
                                     "sudo usermod -aG dialout $USER", "70-tavrin-ftdi.rules"};
        QTest::newRow("no permission") << EACCES << permission;
        QTest::newRow("not permitted") << EPERM << permission;
        QTest::newRow("busy") << EBUSY << QStringList{"/nonexistent/ttyUSB0 is in use by another program"};
        QTest::newRow("unplugged") << ENODEV << QStringList{"is the unit plugged in?"};
        QTest::newRow("anything else") << EINVAL << QStringList{"Could not open /nonexistent/ttyUSB0: "};
    }
    void OpenProblems() {
        QFETCH(int, error);
        QFETCH(QStringList, mentions);
        const QString text = QString::fromStdString(device::TtyOpenProblem("/nonexistent/ttyUSB0", error));
        for (const QString& mention : mentions)
            QVERIFY2(text.contains(mention), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TtyBackendTest)
#include "tty_backend_test.moc"

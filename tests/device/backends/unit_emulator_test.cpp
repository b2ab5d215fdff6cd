#include "device/backends/tty_backend.h"
#include "device/unit_model.h"
#include "pty_pair.h"

#include <QProcess>
#include <QTest>

using device::TtyBackend;
using device::UnitFaults;
using device::UnitModel;

namespace {

constexpr DWORD kListFlags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
constexpr int kWaitMs = 60'000; // a minute for the emulator: a loaded machine cannot fail it

// Starts the emulator and reads the terminal path from its first line.
QString StartEmulator(QProcess& process, const QStringList& arguments) {
    process.start(QStringLiteral(UNIT_EMULATOR_PATH), arguments);
    if (!process.waitForStarted(kWaitMs))
        return {};
    while (!process.canReadLine())
        if (!process.waitForReadyRead(kWaitMs))
            return {};
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

// One request and its reply, the way the exchange makes them: write, wait until
// more than 20 bytes are queued, read what is queued.
QByteArray Exchange(device::CheckedD2xx& backend, FT_HANDLE handle) {
    const char request[3] = {0x41, 0x4C, 0x0D};
    DWORD written = 0;
    if (backend.Write(handle, request, 3, &written) != FT_OK || written != 3)
        return "write failed";
    const DWORD queued = WaitForQueued(backend, handle, 20, kWaitMs);
    char buffer[256] = {};
    DWORD got = 0;
    if (backend.Read(handle, buffer, std::min<DWORD>(queued, 255), &got) != FT_OK)
        return "read failed";
    return QByteArray(buffer, int(got));
}

FT_HANDLE Connect(device::CheckedD2xx& backend) {
    char serial[64] = {};
    FT_HANDLE handle = nullptr;
    if (backend.ListDevices(0, serial, kListFlags) != FT_OK ||
        backend.OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle) != FT_OK)
        return nullptr;
    backend.SetBaudRate(handle, 38400);
    backend.SetDataCharacteristics(handle, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
    return handle;
}

void Stop(QProcess& process) {
    process.terminate();
    QVERIFY(process.waitForFinished(kWaitMs));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

} // namespace

class UnitEmulatorTest : public QObject {
    Q_OBJECT

private slots:
    void AnswersLikeTheSimulatedUnit_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("leading");
        QTest::newRow("plain") << QStringList() << 1 << 0;
        QTest::newRow("three pieces after noise") << QStringList{"--pieces", "3", "--leading", "5"} << 3 << 5;
    }
    void AnswersLikeTheSimulatedUnit() {
        QFETCH(QStringList, arguments);
        QFETCH(int, pieces);
        QFETCH(int, leading);
        QProcess emulator;
        const QString path = StartEmulator(emulator, arguments);
        QVERIFY2(path.startsWith(QLatin1String("/dev/")), qPrintable(emulator.readAllStandardError()));

        UnitFaults faults;
        faults.pieces = pieces;
        faults.leadingBytes = leading;
        const UnitModel model(faults);
        {
            auto backend = std::make_unique<device::CheckedD2xx>(TtyBackend::ForPort(path.toStdString()));
            const FT_HANDLE handle = Connect(*backend);
            QVERIFY2(handle != nullptr, backend->LastProblem());
            QCOMPARE(Exchange(*backend, handle), QByteArray::fromStdString(model.ReplyFor(0)));
            QCOMPARE(Exchange(*backend, handle), QByteArray::fromStdString(model.ReplyFor(1)));
        }
        Stop(emulator);
    }

    // The terminal outlives each client: a second logger run carries on where the first stopped.
    void ServesClientsOneAfterAnother() {
        QProcess emulator;
        const QString path = StartEmulator(emulator, {});
        QVERIFY(!path.isEmpty());
        for (unsigned run = 0; run < 2; ++run) {
            auto backend = std::make_unique<device::CheckedD2xx>(TtyBackend::ForPort(path.toStdString()));
            const FT_HANDLE handle = Connect(*backend);
            QVERIFY2(handle != nullptr, backend->LastProblem());
            QCOMPARE(Exchange(*backend, handle), QByteArray::fromStdString(UnitModel().ReplyFor(run)));
        }
        Stop(emulator);
    }

    void EndsAfterTheGivenRequestsOnceTheClientLetsGo() {
        QProcess emulator;
        const QString path = StartEmulator(emulator, {"--exit-after", "1"});
        QVERIFY(!path.isEmpty());
        {
            auto backend = std::make_unique<device::CheckedD2xx>(TtyBackend::ForPort(path.toStdString()));
            const FT_HANDLE handle = Connect(*backend);
            QVERIFY(handle != nullptr);
            QCOMPARE(Exchange(*backend, handle), QByteArray::fromStdString(UnitModel().ReplyFor(0)));
        }
        // It waits for the client to let go, so that no reply is thrown away unread.
        QVERIFY(emulator.waitForFinished(kWaitMs));
        QCOMPARE(emulator.exitStatus(), QProcess::NormalExit);
        QCOMPARE(emulator.exitCode(), 0);
    }

    void ServesAGivenTerminal() {
        PtyPair pty;
        QVERIFY(pty.Valid());
        QProcess emulator;
        QCOMPARE(StartEmulator(emulator, {"--path", QString::fromStdString(pty.Path())}),
                 QString::fromStdString(pty.Path()));
        QVERIFY(pty.WriteMaster("AL\r"));
        const QByteArray reply = QByteArray::fromStdString(UnitModel().ReplyFor(0));
        QCOMPARE(pty.ReadMaster(int(reply.size())), reply);
        Stop(emulator);
    }

    void RefusesBadOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no pieces") << QStringList{"--pieces", "0"};
        QTest::newRow("delay not a number") << QStringList{"--delay-us", "soon"};
        QTest::newRow("negative leading") << QStringList{"--leading", "-1"};
        QTest::newRow("exit after nothing") << QStringList{"--exit-after", "0"};
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"};
        QTest::newRow("stray argument") << QStringList{"/dev/ttyUSB0"};
        QTest::newRow("missing terminal") << QStringList{"--path", "/nonexistent/ttyS5"};
        QTest::newRow("unplugging a given terminal") << QStringList{"--path", "/dev/tty", "--unplug-after", "3"};
        QTest::newRow("serial number with a slash") << QStringList{"--serial", "EMU/1"};
    }
    void RefusesBadOptions() {
        QFETCH(QStringList, arguments);
        QProcess emulator;
        emulator.start(QStringLiteral(UNIT_EMULATOR_PATH), arguments);
        QVERIFY(emulator.waitForFinished(kWaitMs));
        QVERIFY(emulator.exitCode() != 0);
        QVERIFY(emulator.readAllStandardOutput().isEmpty());
        QVERIFY(!emulator.readAllStandardError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(UnitEmulatorTest)
#include "unit_emulator_test.moc"

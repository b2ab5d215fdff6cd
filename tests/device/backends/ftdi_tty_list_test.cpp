#include "device/backends/ftdi_tty_list.h"
#include "device/backends/tty_backend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using device::FtdiTty;
using device::ListFtdiTtys;
using device::TtyBackend;

namespace {

// One tty of a fake sysfs tree, written "name vendor serial interfaces interface":
//   vendor "platform" hangs the tty on a device that is no USB device,
//   vendor "none" gives the tty no device link (a virtual console),
//   serial "-" leaves the serial file out,
//   interface "direct" hangs the tty on the interface itself (no usb-serial port step).
void AddTty(const QString& root, const QString& description, int usbNumber) {
    const QStringList f = description.split(QLatin1Char(' '));
    const QString name = f.value(0), vendor = f.value(1), serial = f.value(2);
    const QString interfaces = f.value(3, QStringLiteral("1")),
                  interfaceNumber = f.value(4, QStringLiteral("00"));
    QDir dir(root);
    dir.mkpath(QStringLiteral("class/tty/") + name);
    if (vendor == QLatin1String("none"))
        return;
    QString target;
    if (vendor == QLatin1String("platform")) {
        target = root + QStringLiteral("/devices/platform/serial8250/") + name;
        dir.mkpath(target);
    } else {
        const QString usb = root + QStringLiteral("/devices/pci0/usb1/1-%1").arg(usbNumber);
        const QString iface = usb + QStringLiteral("/1-%1:1.%2").arg(usbNumber).arg(interfaceNumber.toInt());
        target = interfaceNumber == QLatin1String("direct") ? iface : iface + QLatin1Char('/') + name;
        dir.mkpath(target);
        const auto write = [](const QString& path, const QString& text) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text.toLatin1() + '\n');
        };
        write(usb + QStringLiteral("/idVendor"), vendor);
        write(usb + QStringLiteral("/bNumInterfaces"), QStringLiteral(" ") + interfaces);
        if (serial != QLatin1String("-"))
            write(usb + QStringLiteral("/serial"), serial);
        if (interfaceNumber != QLatin1String("direct"))
            write(iface + QStringLiteral("/bInterfaceNumber"), interfaceNumber);
    }
    QVERIFY(QFile::link(target, root + QStringLiteral("/class/tty/") + name + QStringLiteral("/device")));
}

} // namespace

class FtdiTtyListTest : public QObject {
    Q_OBJECT

private slots:
    void Lists_data() {
        QTest::addColumn<QStringList>("ttys");
        QTest::addColumn<QStringList>("listed"); // "serial=name", in list order

        QTest::newRow("empty tree") << QStringList() << QStringList();
        QTest::newRow("two FTDI, a Prolific, a platform port, a console")
            << QStringList{"ttyUSB0 0403 FTZ9", "ttyUSB1 0403 FTA1", "ttyUSB2 067b PL123", "ttyS0 platform -",
                           "tty1 none -"}
            << QStringList{"FTA1=ttyUSB1", "FTZ9=ttyUSB0"};
        QTest::newRow("two-port chip gets interface letters")
            << QStringList{"ttyUSB4 0403 FTD5 2 01", "ttyUSB3 0403 FTD5 2 00"}
            << QStringList{"FTD5A=ttyUSB3", "FTD5B=ttyUSB4"};
        QTest::newRow("chip without serial number goes by its tty name")
            << QStringList{"ttyUSB7 0403 -"} << QStringList{"ttyUSB7=ttyUSB7"};
        QTest::newRow("tty hung on the interface itself")
            << QStringList{"ttyACM0 0403 FT77 1 direct"} << QStringList{"FT77=ttyACM0"};
        QTest::newRow("over-long serial number is cut to 63 bytes")
            << QStringList{QStringLiteral("ttyUSB0 0403 ") + QString(70, QLatin1Char('S'))}
            << QStringList{QString(63, QLatin1Char('S')) + QStringLiteral("=ttyUSB0")};
    }
    void Lists() {
        QFETCH(QStringList, ttys);
        QFETCH(QStringList, listed);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir(root.path()).mkpath(QStringLiteral("class/tty"));
        for (int i = 0; i < ttys.size(); ++i) {
            AddTty(root.path(), ttys[i], i + 1);
            if (QTest::currentTestFailed())
                return;
        }

        const std::vector<FtdiTty> found = ListFtdiTtys(root.path().toStdString(), "/dev");
        QStringList got;
        for (const FtdiTty& tty : found) {
            got << QString::fromStdString(tty.serialNumber + "=" + tty.ttyName);
            QCOMPARE(QString::fromStdString(tty.devicePath),
                     QStringLiteral("/dev/") + QString::fromStdString(tty.ttyName));
        }
        QCOMPARE(got, listed);
    }

    void MissingSysfsListsNothing() { QVERIFY(ListFtdiTtys("/nonexistent-sysfs", "/dev").empty()); }

    // What the connection sees: units by index, the FTDI ones only.
    void BackendListsByIndex() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QStringList ttys{"ttyUSB0 0403 FTZ9", "ttyUSB1 0403 FTA1", "ttyUSB2 067b PL123"};
        for (int i = 0; i < ttys.size(); ++i)
            AddTty(root.path(), ttys[i], i + 1);
        // A registry folder of its own: units another program registered are not listed here.
        device::CheckedD2xx backend(std::make_unique<TtyBackend>(root.path().toStdString(),
                                                                 root.path().toStdString() + "/dev",
                                                                 root.filePath("units").toStdString()));
        const DWORD flags = FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER;
        char serial[64] = {};
        QCOMPARE(backend.ListDevices(0, serial, flags), FT_OK);
        QCOMPARE(QByteArray(serial), QByteArray("FTA1"));
        QCOMPARE(backend.ListDevices(1, serial, flags), FT_OK);
        QCOMPARE(QByteArray(serial), QByteArray("FTZ9"));
        QCOMPARE(backend.ListDevices(2, serial, flags), FT_DEVICE_NOT_FOUND);

        // Listed, but its device node is missing: not found, and said so.
        FT_HANDLE handle = nullptr;
        QCOMPARE(backend.OpenEx("FTA1", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
        QVERIFY(handle == nullptr);
        QVERIFY(QByteArray(backend.LastProblem()).contains("ttyUSB1"));
        QCOMPARE(backend.OpenEx("PL123", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    }

    void BackendOnEmptyTreeListsNothing() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        QDir(root.path()).mkpath(QStringLiteral("class/tty"));
        device::CheckedD2xx backend(std::make_unique<TtyBackend>(root.path().toStdString(), "/dev",
                                                                 root.filePath("units").toStdString()));
        char serial[64] = {};
        QCOMPARE(backend.ListDevices(0, serial, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
                 FT_DEVICE_NOT_FOUND);
        QVERIFY(QByteArray(backend.LastProblem()).contains("No FTDI serial port"));
    }
};

QTEST_GUILESS_MAIN(FtdiTtyListTest)
#include "ftdi_tty_list_test.moc"

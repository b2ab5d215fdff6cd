// The unit registry lists a registered unit only from a folder that is this
// user's own and that nobody else may write into.
#include "device/unit_registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestUnitRegistry : public QObject {
    Q_OBJECT

private slots:
    void trustsOnlyAnOwnFolder_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("own, for this user alone") << "0700" << QStringList{"EMU00001=/dev/null"};
        QTest::newRow("group may write") << "0770" << QStringList();
        QTest::newRow("anybody may write") << "0707" << QStringList();
        QTest::newRow("another user's") << "foreign" << QStringList();
        QTest::newRow("a link to an own folder") << "link" << QStringList();
    }
    void trustsOnlyAnOwnFolder() {
        QFETCH(QString, folder);
        QFETCH(QStringList, listed);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString own = root.filePath("units");
        QVERIFY(QDir().mkdir(own));
        QVERIFY(::chmod(own.toLocal8Bit().constData(), 0700) == 0);
        // A character device stands for the emulator's terminal.
        QVERIFY(QFile::link("/dev/null", own + "/EMU00001"));
        QString path = own;
        if (folder == "0770" || folder == "0707")
            QVERIFY(::chmod(own.toLocal8Bit().constData(), mode_t(folder.toUInt(nullptr, 8))) == 0);
        if (folder == "foreign" && ::chown(own.toLocal8Bit().constData(), ::getuid() + 1, ::getgid()) != 0)
            QSKIP("this user cannot give a folder to another user");
        if (folder == "link") {
            path = root.filePath("elsewhere");
            QVERIFY(QFile::link(own, path));
        }

        QStringList got;
        for (const device::RegisteredUnit& unit : device::RegisteredUnits(path.toStdString()))
            got << QString::fromStdString(unit.serialNumber + "=" + unit.devicePath);
        QCOMPARE(got, listed);
        // Registering there is refused just the same, and leaves nothing behind.
        const std::string refused = device::RegisterUnit("EMU00002", "/dev/null", path.toStdString());
        QCOMPARE(refused.empty(), listed.size() == 1);
        QCOMPARE(QFile::exists(own + "/EMU00002"), listed.size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestUnitRegistry)
#include "test_unit_registry.moc"

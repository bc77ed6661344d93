// The port numbers the window gives devices, and the watch that tells it devices came or went.
#include "core/port_numbering.h"
#include "core/port_source.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace zentrava;

namespace {

// "a COM3=COM3 b:FT232R" -> devices: "COM3=" a number of its own, ":" a description.
QList<PortDevice> devicesFrom(const QString& text) {
    QList<PortDevice> devices;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts))
        devices.append({word.section('=', -1).section(':', 0, 0), word.section(':', 1),
                        word.contains('=') ? word.section('=', 0, 0).mid(3).toInt() : 0});
    return devices;
}

// "COM1=a COM3=c(FT232R)", in port order, with any description.
QString mapText(const PortMap& map) {
    QStringList entries;
    for (int port = 1; port <= PortMap::kPortCount; ++port) {
        const QString about = map.description(port);
        if (map.isMapped(port))
            entries << QStringLiteral("COM%1=%2").arg(port).arg(map.device(port)) +
                           (about.isEmpty() ? "" : '(' + about + ')');
    }
    return entries.join(' ');
}

} // namespace

class TestPortSource : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each step lists the devices present; the map after it must match.
    void numbering_data() {
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("expected");
        auto row = [](const char* name, QStringList present, QStringList expected) {
            QTest::newRow(name) << present << expected;
        };
        // Sorted by path; a device keeps its number, a new one takes the lowest free one.
        row("sorted by path", {"d b a c"}, {"COM1=a COM2=b COM3=c COM4=d"});
        // tst_window's port list has devices come and go; here the seventeenth waits for a number.
        QStringList seventeen, sixteen;
        for (char c = 'a'; c <= 'q'; ++c)
            seventeen << QString(c), sixteen << QStringLiteral("COM%1=%2").arg(c - 'a' + 1).arg(c);
        sixteen.removeLast();
        const QString all = seventeen.join(' '), withoutE = QString(all).remove(" e");
        row("at most sixteen", {all, withoutE},
            {sixteen.join(' '), sixteen.join(' ').replace("COM5=e", "COM5=q")});
        row("a device listed twice", {"a a b"}, {"COM1=a COM2=b"});
        // A number the system gives is kept, and goes first; udev may fill a description in late.
        row("system numbers", {"COM3=COM3 COM1=COM1", "COM1=COM1"},
            {"COM1=COM1 COM3=COM3", "COM1=COM1"});
        row("system number first", {"a", "a COM1=COM1"}, {"COM1=a", "COM1=COM1 COM2=a"});
        row("late description", {"a b", "b:FT232R"}, {"COM1=a COM2=b", "COM2=b(FT232R)"});
    }

    void numbering() {
        QFETCH(QStringList, present);
        QFETCH(QStringList, expected);
        PortNumbering numbering;
        for (int step = 0; step < present.size(); ++step)
            QCOMPARE(mapText(numbering.update(devicesFrom(present[step]))), expected[step]);
    }

    // A change of the serial devices is told once, after the burst; no other change is told.
    void watch_data() {
        QTest::addColumn<QString>("change"); // of ttyUSB0, there from the start unless created
        QTest::addColumn<int>("steps"); // how many changes, each in an event loop turn of its own
        QTest::addColumn<int>("told");
        QTest::newRow("a node appears") << "create" << 1 << 1;
        QTest::newRow("a node goes") << "remove" << 1 << 1;
        QTest::newRow("a node is renamed") << "rename" << 1 << 1;
        QTest::newRow("udev sets its permissions") << "chmod" << 1 << 0;
        QTest::newRow("an adapter brings a burst") << "create" << 6 << 1;
        QTest::newRow("no serial device") << "create other" << 1 << 0;
    }

    void watch() {
        QFETCH(QString, change);
        QFETCH(int, steps);
        QFETCH(int, told);
        QTemporaryDir dev;
        QFile there(dev.filePath("ttyUSB0"));
        QVERIFY(change.startsWith("create") || there.open(QIODevice::WriteOnly));
        // The directory's tty* files stand for the system's serial devices.
        const auto ttys = [&dev] {
            QList<PortDevice> devices;
            for (const QString& name : QDir(dev.path()).entryList({QStringLiteral("tty*")}))
                devices.append({dev.filePath(name), QString(), 0});
            return devices;
        };
        // Long enough that the steps of one burst fall within it on any machine.
        SystemPortSource source(dev.path(), 1000, ttys);
        QVERIFY(source.isWatching());
        source.devices();
        // Idle costs nothing: no timer runs until something in the directory changes.
        for (const QTimer* timer : source.findChildren<QTimer*>())
            QVERIFY(!timer->isActive());
        QSignalSpy changed(&source, &PortSource::changed);
        for (int step = 0; step < steps; ++step) {
            const QString path = dev.filePath(QStringLiteral("ttyUSB%1").arg(step));
            QVERIFY(change == "remove"   ? QFile::remove(path)
                    : change == "rename" ? QFile::rename(path, dev.filePath("ttyACM0"))
                    : change == "chmod"  ? QFile::setPermissions(path, QFile::ReadOwner)
                                         : QFile(change == "create" ? path : dev.filePath("shm"))
                                              .open(QIODevice::WriteOnly));
            QTRY_VERIFY(source.isSettling());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!source.isSettling(), 10000);
        QCoreApplication::processEvents();
        QCOMPARE(changed.count(), told);
    }

    // The listing begun before the window exists is the one the window gets, and only once.
    void earlyListingIsTheSystemsOwn() {
        const auto paths = [](const QList<PortDevice>& d) {
            return mapText(PortNumbering().update(d));
        };
        SystemPortSource source;
        QVERIFY(source.isWatching() && !source.isSettling());
        const QString direct = paths(source.devices());
        SystemPortSource::startEarlyListing();
        QCOMPARE(paths(source.devices()), direct);
        QCOMPARE(paths(source.devices()), direct);
        SystemPortSource::startEarlyListing();
        QCOMPARE(paths(SystemPortSource().devices()), direct);
    }
};

QTEST_GUILESS_MAIN(TestPortSource)
#include "tst_port_source.moc"

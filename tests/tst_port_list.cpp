// The window's port list follows the devices that come and go, through an injected source of
// ports whose devices are pseudo-terminals that really open.
#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QComboBox>
#include <QFile>
#include <QSerialPort>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <map>

using namespace zentrava;
using namespace zentrava::test;

namespace {

class FakePorts final : public PortSource {
public:
    QList<PortDevice> present;
    QList<PortDevice> devices() const override { return present; }
    void announce() { Q_EMIT changed(); }
};

// Every open of the watched devices, as the kernel sees it.
class OpenCounter {
public:
    OpenCounter() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenCounter() { ::close(m_fd); }

    // Closes too: the kernel merges like events that follow each other unread.
    void watch(const QString& path) {
        m_paths[inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE)] =
            path;
    }
    const std::map<QString, int>& opens() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            const inotify_event* event = nullptr;
            for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + event->len) {
                event = reinterpret_cast<const inotify_event*>(p);
                m_opens[m_paths[event->wd]] += (event->mask & IN_OPEN) ? 1 : 0;
            }
        }
        return m_opens;
    }

private:
    int m_fd;
    std::map<int, QString> m_paths;
    std::map<QString, int> m_opens;
};

// Devices named by one letter each; letters follow device paths, so "a" sorts before "b".
class Bench {
public:
    explicit Bench(int count) {
        std::vector<std::unique_ptr<emu::PtyHost>> hosts;
        for (int i = 0; i < count; ++i) {
            hosts.push_back(std::make_unique<emu::PtyHost>());
            if (!hosts.back()->open())
                qFatal("no pseudo-terminal");
        }
        std::sort(hosts.begin(), hosts.end(),
                  [](const auto& x, const auto& y) { return x->devicePath() < y->devicePath(); });
        for (int i = 0; i < count; ++i)
            m_hosts[QChar(u'a' + i)] = std::move(hosts[std::size_t(i)]);
    }

    emu::PtyHost& host(QChar letter) { return *m_hosts.at(letter); }
    PortDevice device(QChar letter) {
        return {host(letter).devicePath(), QStringLiteral("adapter ") + letter, 0};
    }
    QString letterOf(const QString& path) const {
        for (const auto& [letter, host] : m_hosts) {
            if (host->devicePath() == path)
                return letter;
        }
        return QStringLiteral("?");
    }

private:
    std::map<QChar, std::unique_ptr<emu::PtyHost>> m_hosts;
};

// "COM1:a *COM2:b": the entries in order, the current one starred, each with the device its tip
// names; the list's own tip names the current one's. "(no description)" when a tip lacks it.
QString listing(const QComboBox* box, const Bench& bench) {
    QStringList entries;
    for (int i = 0; i < box->count(); ++i) {
        const bool current = i == box->currentIndex();
        const QString tip = current ? box->toolTip().section(QLatin1Char('\n'), 1, 1)
                                    : box->itemData(i, Qt::ToolTipRole).toString();
        const QString letter = bench.letterOf(tip.section(QLatin1Char(' '), 0, 0));
        entries << (current ? QStringLiteral("*") : QString()) + box->itemText(i) +
                       QLatin1Char(':') + letter +
                       (tip.endsWith(QStringLiteral("adapter ") + letter)
                            ? QString()
                            : QStringLiteral("(no description)"));
    }
    // "[b: why]" for each device the list's tip says was left out.
    for (const QString& line : box->toolTip().split(QLatin1Char('\n')).mid(1)) {
        if (line.contains(QStringLiteral(": ")))
            entries << QLatin1Char('[') + bench.letterOf(line.section(QStringLiteral(": "), 0, 0)) +
                           QStringLiteral(": ") + line.section(QStringLiteral(": "), 1) +
                           QLatin1Char(']');
    }
    return entries.join(QLatin1Char(' '));
}

QString range(char from, char to) {
    QString letters;
    for (char c = from; c <= to; ++c)
        letters += QStringLiteral(" ") + QLatin1Char(c);
    return letters.mid(1);
}

} // namespace

class TestPortList : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each step is "action -> the list after it". Actions: start (the devices present when the
    // window opens), plug and unplug (the system tells), quietly plug (it does not), announce
    // (the system tells, yet nothing changed), drop (the list drops down), select, open, close,
    // vanish (the device fails under the open port), hold and release (another program opens and
    // closes the device); "opened -> a:1" counts the opens of each device so far instead.
    void follows_data() {
        QTest::addColumn<QStringList>("steps");
        QString many = QStringLiteral("*COM1:a");
        for (int n = 2; n <= 16; ++n)
            many += QStringLiteral(" COM%1:%2").arg(n).arg(QChar(u'a' + n - 1));
        QString manyWithQ = many;
        manyWithQ.replace(QStringLiteral("COM5:e"), QStringLiteral("COM5:q"));
        const QString lastShown =
            QString(manyWithQ).remove(0, 1).replace(QStringLiteral("COM16:p"), "*COM16:p");

        QTest::newRow("an adapter plugged in after start-up")
            << QStringList{"start a -> *COM1:a", "plug b -> *COM1:a COM2:b",
                           "select COM2 -> COM1:a *COM2:b", "open -> COM1:a *COM2:b"};
        QTest::newRow("no adapter at start-up, then one and then several") << QStringList{
            "start -> ", "plug c -> *COM1:c", "plug d b a -> *COM1:c COM2:a COM3:b COM4:d",
            "open -> *COM1:c COM2:a COM3:b COM4:d"};
        QTest::newRow("unplugged and plugged back") << QStringList{
            "start c a b -> *COM1:a COM2:b COM3:c", "select COM3 -> COM1:a COM2:b *COM3:c",
            "unplug b -> COM1:a *COM3:c", "plug d -> COM1:a COM2:d *COM3:c",
            "plug b -> COM1:a COM2:d *COM3:c COM4:b"};
        QTest::newRow("the entry shown goes, the first one is shown")
            << QStringList{"start a b c -> *COM1:a COM2:b COM3:c", "unplug a -> *COM2:b COM3:c",
                           "plug a -> COM1:a *COM2:b COM3:c"};
        QTest::newRow("a renumbered entry opens its own device") << QStringList{
            "start a b -> *COM1:a COM2:b", "unplug a -> *COM2:b", "plug c -> COM1:c *COM2:b",
            "select COM1 -> *COM1:c COM2:b", "open -> *COM1:c COM2:b"};
        QTest::newRow("dropping the list down reads it again")
            << QStringList{"start a -> *COM1:a", "quietly plug b -> *COM1:a",
                           "drop -> *COM1:a COM2:b", "unplug a -> *COM2:b"};
        QTest::newRow("more than sixteen devices")
            << QStringList{"start " + range('a', 'q') + " -> " + many, "unplug e -> " + manyWithQ,
                           "plug e -> " + manyWithQ, "select COM16 -> " + lastShown,
                           "unplug a -> " + QString(lastShown).replace("COM1:a", "COM1:e")};
        QTest::newRow("nothing changes while the port is open")
            << QStringList{"start a b -> *COM1:a COM2:b", "select COM2 -> COM1:a *COM2:b",
                           "open -> COM1:a *COM2:b",      "plug c -> COM1:a *COM2:b",
                           "unplug a -> COM1:a *COM2:b",  "close -> COM1:c *COM2:b"};
        QTest::newRow("the open port's device vanishes")
            << QStringList{"start a b -> *COM1:a COM2:b", "select COM2 -> COM1:a *COM2:b",
                           "open -> COM1:a *COM2:b",      "vanish b -> *COM1:a",
                           "plug c -> *COM1:a COM2:c",    "select COM2 -> COM1:a *COM2:c",
                           "open -> COM1:a *COM2:c"};
        // Each open resets many boards, and keeps other programs off the device meanwhile.
        QTest::newRow("a device that opened is not opened again while present")
            << QStringList{"start a b -> *COM1:a COM2:b",     "drop -> *COM1:a COM2:b",
                           "plug c -> *COM1:a COM2:b COM3:c", "unplug a -> *COM2:b COM3:c",
                           "announce -> *COM2:b COM3:c",      "opened -> a:1 b:1 c:1",
                           "plug a -> COM1:a *COM2:b COM3:c", "opened -> a:2 b:1 c:1"};
        // The holder's open is the only one until the device is free.
        QTest::newRow("a busy device is tried again")
            << QStringList{"start a -> *COM1:a",
                           "hold b -> *COM1:a",
                           "plug b -> *COM1:a [b: in use by another program]",
                           "opened -> a:1 b:1",
                           "release b -> *COM1:a [b: in use by another program]",
                           "drop -> *COM1:a COM2:b",
                           "opened -> a:1 b:2"};
    }

    void follows() {
        QFETCH(QStringList, steps);
        Bench bench(17);
        OpenCounter counter;
        for (int i = 0; i < 17; ++i)
            counter.watch(bench.host(QChar(u'a' + i)).devicePath());
        std::map<QChar, std::unique_ptr<QSerialPort>> held;
        WindowFixture f(false);
        f.form.reset();
        FakePorts* ports = nullptr;
        for (const QString& step : steps) {
            const QString action = step.section(QStringLiteral(" -> "), 0, 0);
            const QString expected = step.section(QStringLiteral(" -> "), 1);
            const QStringList words = action.split(QLatin1Char(' '));
            const QString verb = words[0] == "quietly" ? words.mid(0, 2).join(' ') : words[0];
            const QStringList letters = words.mid(verb.count(' ') + 1);
            if (verb == "start") {
                auto source = std::make_unique<FakePorts>();
                ports = source.get();
                for (const QString& letter : letters)
                    ports->present.append(bench.device(letter[0]));
                f.form = std::make_unique<Form1>(std::move(source), f.recorders.services());
            } else if (verb == "plug" || verb == "quietly plug") {
                for (const QString& letter : letters)
                    ports->present.append(bench.device(letter[0]));
                if (verb == "plug")
                    ports->announce();
            } else if (verb == "unplug" || verb == "vanish") {
                for (const QString& letter : letters) {
                    const QString path = bench.host(letter[0]).devicePath();
                    ports->present.removeIf([&](const PortDevice& d) { return d.device == path; });
                    if (verb == "vanish")
                        bench.host(letter[0]).vanish();
                }
                ports->announce();
            } else if (verb == "hold") {
                held[letters[0][0]] =
                    std::make_unique<QSerialPort>(bench.host(letters[0][0]).devicePath());
                QVERIFY(held[letters[0][0]]->open(QIODevice::ReadWrite));
            } else if (verb == "release") {
                held.erase(letters[0][0]);
            } else if (verb == "announce") {
                ports->announce();
            } else if (verb == "opened") {
                QStringList counts;
                for (const auto& [path, count] : counter.opens())
                    counts << bench.letterOf(path) + QLatin1Char(':') + QString::number(count);
                QCOMPARE(counts.join(QLatin1Char(' ')), expected);
                continue;
            } else if (verb == "drop") {
                QTest::keyClick(f.combo("comport"), Qt::Key_Down, Qt::AltModifier);
                f.combo("comport")->hidePopup();
            } else if (verb == "select") {
                QComboBox* box = f.combo("comport");
                QVERIFY(box->findText(letters[0]) >= 0);
                box->setCurrentIndex(box->findText(letters[0]));
            } else if (verb == "open") {
                QVERIFY(f.openPort());
                // The link must open the device the entry stands for, however it was numbered.
                const QString shown = listing(f.combo("comport"), bench)
                                          .section(QLatin1Char('*'), 1)
                                          .section(QLatin1Char(' '), 0, 0);
                QCOMPARE(bench.letterOf(f.form->serialLink().deviceName()), shown.section(':', 1));
            } else if (verb == "close") {
                f.click("comopen");
                QVERIFY(!f.form->serialLink().portOpen());
            } else {
                QFAIL(qPrintable("unknown action " + action));
            }
            QTRY_COMPARE(listing(f.combo("comport"), bench), expected);
            QCOMPARE(f.combo("comport")->isEnabled(), !f.form->serialLink().portOpen());
        }
        const bool vanished = steps.filter(QStringLiteral("vanish")).size() > 0;
        QCOMPARE(f.messages(), vanished ? QStringList{kDeviceError} : QStringList());
    }

    // Root may open any device, so the link refuses here what a user's system would.
    void skippedPortsExplained() {
        auto link = std::make_unique<ScriptedLink>();
        link->openablePorts = {1};
        link->openFailures = {{2, serial_error::kPermissionDenied},
                              {3, serial_error::kPortAlreadyOpen},
                              {4, serial_error::kOther}};
        PortMap map;
        for (int port = 1; port <= 4; ++port)
            map.set(port, QStringLiteral("/dev/absent-tty%1").arg(port));
        WindowFixture f(false);
        f.rebuild(map, std::move(link));
        QCOMPARE(f.combo("comport")->count(), 1);
        QCOMPARE(f.combo("comport")->toolTip().split(QLatin1Char('\n')).mid(2),
                 (QStringList{"/dev/absent-tty2: no permission (add yourself to the dialout group)",
                              "/dev/absent-tty3: in use by another program"}));
    }
};

QTEST_MAIN(TestPortList)
#include "tst_port_list.moc"

#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <vector>

using namespace zentrava;
using namespace zentrava::test;

const QColor kLightGreen(192, 255, 192);
const QColor kLightBlue(192, 192, 255);

static double greenShare(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == kLightGreen.rgb() ? 1 : 0;
    return image.isNull() ? 0.0 : double(count) / (image.width() * image.height());
}

// The port button and what goes with it; no colour stands for the usual button face.
static void expectPort(WindowFixture& f, const char* caption, QColor colour, bool open) {
    QPushButton* comopen = f.button("comopen");
    QCOMPARE(comopen->text(), QLatin1String(caption));
    colour = colour.isValid() ? colour : QApplication::palette(comopen).color(QPalette::Button);
    QCOMPARE(comopen->palette().color(QPalette::Button), colour);
    QCOMPARE(f.form->serialLink().portOpen(), open);
    QCOMPARE(f.combo("comport")->isEnabled(), !open);
    QCOMPARE(f.enabledCommandButtons(), open ? 12 : 0);
    QCOMPARE(f.form->panelText(1), open ? "Opened 9600,n,8,1" : "Closed 9600,n,8,1");
}

class FakePorts final : public PortSource {
public:
    QList<PortDevice> present;
    QList<PortDevice> devices() const override { return present; }
    void announce() { Q_EMIT changed(); }
};

// Every open of the watched devices, as the kernel sees it: "a:1 b:2".
class OpenCounter {
public:
    OpenCounter() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    ~OpenCounter() { ::close(m_fd); }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;

    // Closes too: the kernel merges like events that follow each other unread.
    void watch(const QString& path, QChar letter) {
        m_letters[inotify_add_watch(m_fd, QFile::encodeName(path).constData(),
                                    IN_OPEN | IN_CLOSE)] = letter;
    }
    QString opens() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
            const inotify_event* event = nullptr;
            for (char* p = buffer; p < buffer + n; p += sizeof(inotify_event) + event->len) {
                event = reinterpret_cast<const inotify_event*>(p);
                m_opens[m_letters[event->wd]] += (event->mask & IN_OPEN) ? 1 : 0;
            }
        }
        QStringList counts;
        for (const auto& [letter, count] : m_opens)
            counts << QString(letter) + QLatin1Char(':') + QString::number(count);
        return counts.join(QLatin1Char(' '));
    }

private:
    int m_fd;
    std::map<int, QChar> m_letters;
    std::map<QChar, int> m_opens;
};

class TestWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What every control has: a tooltip that screen readers get too, bold 9-point buttons that
    // stay off until a port is open, light green boxes.
    void everyControl() {
        WindowFixture f(false);
        int controls = 0;
        for (QWidget* w : f.form->findChildren<QWidget*>()) {
            const QString kind = QLatin1String(w->metaObject()->className());
            const bool own = !qobject_cast<QComboBox*>(w->parentWidget()); // not a box's editor
            if (!own || (kind != "QPushButton" && kind != "QComboBox" && kind != "QLineEdit"))
                continue;
            ++controls;
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
            QVERIFY(accessible);
            QCOMPARE(accessible->text(QAccessible::Description), w->toolTip());
            if (kind == "QPushButton") {
                QVERIFY(w->font().bold() && w->font().pointSize() == 9);
                QCOMPARE(w->isEnabled(), w == f.button("comopen"));
                continue;
            }
            QCOMPARE(w->palette().color(QPalette::Base), kLightGreen);
            // A style sheet could paint over the palette; the port list is drawn as a button.
            QVERIFY(w == f.combo("comport") || greenShare(w->grab().toImage()) > 0.3);
        }
        QCOMPARE(controls, 24);
    }

    // A few controls as the operator sees them, odd spellings included; a list box shows its
    // items, then its text.
    void controls_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");  // only for a few, to check the layout
        QTest::addColumn<QString>("says"); // a part of its tooltip
        const auto row = [](const char* name, const QString& text, QRect twips = {},
                            const char* says = "") {
            QTest::newRow(name) << text << twips << says;
        };
        const auto numbers = [](int first, int last) {
            QStringList list;
            for (int n = first; n <= last; ++n)
                list << QString::number(n);
            return list.join(u' ');
        };
        const QString rates = QStringLiteral("1200 2400 4800 9600 19200 38400 57600");
        row("Frame1", "Usart", {100, 120, 1890, 630}); // moved
        row("comport", "|", {960, 240, 840, 300}, "COM1 to COM16");
        row("TXfrequency", "868", {120, 270, 700, 280}, "855 to 875 MHz");
        row("Frame6", "RF_Channel", {4950, 900, 2900, 735});
        row("Combo1", numbers(0, 32) + "|0", {}, "0 to 255");
        row("Command1", "Read", {}, "Read the RF channel, 0 to 255");
        row("Frame5", "ProductID(1~65536)");
        row("id", "00000", {}, "1 to 65535");
        row("Frame7", "RX frequency");
        row("readpowerlevel", "Rread");
        row("Combo2", numbers(1, 127) + "|127");
        row("Command3", "Rread");
        row("datarate", rates + "|9600");
        row("sbaudrate", rates + " 115200|9600");
        row("scheckbits", "n e o|n", {}, "n (none), e (even) or o (odd)");
        row("writeserial", "Write", {4600, 250, 800, 300});
        row("Image1", "", {360, 1440, 1170, 1155}, "Open " ZENTRAVA_MAKER_URL);
    }

    void controls() {
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        QFETCH(QString, says);
        WindowFixture f(false);
        QWidget* w = f.widget(QTest::currentDataTag());
        QVERIFY2(w->toolTip().contains(says), qPrintable(w->toolTip()));
        QString shown = w->property(qobject_cast<QGroupBox*>(w) ? "title" : "text").toString();
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            QStringList items;
            for (int i = 0; i < box->count(); ++i)
                items << box->itemText(i);
            // Only the port list is not editable; no entry is picked at start-up.
            QCOMPARE(box->isEditable(), box->count() > 0);
            QCOMPARE(box->currentIndex(), -1);
            shown = items.join(u' ') + u'|' + box->currentText();
        }
        QCOMPARE(shown, text);
        const double px = f.form->logicalDpiX() / 96.0 / 15; // 15 twips a pixel at 96 DPI
        if (!twips.isNull())
            QCOMPARE(w->geometry(), QRect(twips.topLeft() * px, twips.size() * px));
    }

    void lifeOfTheWindow() {
        emu::PtyHost three, eleven;
        QVERIFY(three.open() && eleven.open());
        PortMap map;
        for (int port = 1; port <= PortMap::kPortCount; ++port)
            map.set(port, QStringLiteral("/dev/zentrava-absent-%1").arg(port));
        map.set(3, three.devicePath(), QStringLiteral("left adapter"));
        map.set(11, eleven.devicePath());
        const QString before = QTime::currentTime().toString("HH:mm");
        WindowFixture f(false);
        f.rebuild(map);
        const QString clock = f.form->panelText(3);
        QVERIFY(clock == before || clock == QTime::currentTime().toString("HH:mm"));
        QCOMPARE(f.form->windowTitle(), QStringLiteral("RF tool for KT7720 868MHz"));
        QCOMPARE(f.form->panelText(2), QString());
        // Idle costs what it did: nothing but the minute clock waits for time to pass.
        QList<QTimer*> armed;
        for (QTimer* timer : f.form->findChildren<QTimer*>()) {
            if (timer->isActive())
                armed << timer;
        }
        QCOMPARE(armed.size(), 1);
        QVERIFY(armed[0]->isSingleShot() && armed[0] != f.timer2());
        expectPort(f, "Open", {}, false);
        QComboBox* comport = f.combo("comport");
        QCOMPARE(comport->count(), 2);
        QCOMPARE(comport->currentText(), QStringLiteral("COM3"));
        QCOMPARE(comport->itemText(1), QStringLiteral("COM11"));
        const QString tip = comport->itemData(0, Qt::ToolTipRole).toString();
        QVERIFY(tip.split(' ').contains(three.devicePath()) && tip.contains("left adapter"));
        QVERIFY(!f.widget<QLabel>("Image1")->pixmap().isNull());
        QTest::mouseClick(f.widget("Image1"), Qt::LeftButton);
        QCOMPARE(f.recorders.launcher.urls.size(), 1);

        QTest::keyClick(comport, Qt::Key_Down); // the selected entry decides which device opens
        QVERIFY(f.openPort());
        QCOMPARE(f.form->serialLink().deviceName(), eleven.devicePath());
        expectPort(f, "Close", kLightBlue, true);
        QVERIFY(!f.widget("Frame7")->isEnabled());
        f.click("comopen");
        expectPort(f, "Open", {}, false);
        QVERIFY(f.openPort());
        QCOMPARE(f.messages(), QStringList());
    }

    // The list follows the devices that come and go while the port is closed, keeps the entry
    // shown, and opens the device an entry stands for; tst_port_source numbers them.
    void portListFollowsTheDevices() {
        std::vector<std::unique_ptr<emu::PtyHost>> hosts;
        for (int i = 0; i < 3; ++i) {
            hosts.push_back(std::make_unique<emu::PtyHost>());
            QVERIFY(hosts.back()->open());
        }
        // Letters follow device paths, so "a" sorts before "b".
        std::sort(hosts.begin(), hosts.end(),
                  [](const auto& x, const auto& y) { return x->devicePath() < y->devicePath(); });
        const auto letter = [&](const QString& path) {
            for (std::size_t i = 0; i < hosts.size(); ++i) {
                if (hosts[i]->devicePath() == path)
                    return QString(QChar(u'a' + int(i)));
            }
            return QStringLiteral("?");
        };
        // Each open resets many boards and keeps other programs off the device meanwhile: a
        // device that opened is not opened again for the list while it stays present.
        OpenCounter counter;
        for (std::size_t i = 0; i < hosts.size(); ++i)
            counter.watch(hosts[i]->devicePath(), QChar(u'a' + int(i)));
        auto source = std::make_unique<FakePorts>();
        FakePorts& ports = *source;
        const auto plug = [&](char c, bool announce = true) {
            ports.present.append({hosts[std::size_t(c - 'a')]->devicePath(), QString(), 0});
            if (announce)
                ports.announce();
        };
        const auto unplug = [&](char c) {
            const QString path = hosts[std::size_t(c - 'a')]->devicePath();
            ports.present.removeIf([&](const PortDevice& d) { return d.device == path; });
            ports.announce();
        };
        plug('b');
        WindowFixture f(false);
        f.form = std::make_unique<Form1>(std::move(source), f.recorders.services());
        QComboBox* list = f.combo("comport");
        // "COM1=a *COM2=b": each entry with the device its tip names, the current one starred.
        const auto shown = [&] {
            QStringList entries;
            for (int i = 0; i < list->count(); ++i)
                entries
                    << (i == list->currentIndex() ? "*" : "") + list->itemText(i) + '=' +
                           letter(list->itemData(i, Qt::ToolTipRole).toString().section(' ', 0, 0));
            return entries.join(' ');
        };
        QCOMPARE(shown(), QStringLiteral("*COM1=b"));
        plug('a'); // a new device takes the lowest free number
        QTRY_COMPARE(shown(), QStringLiteral("*COM1=b COM2=a"));
        list->setCurrentIndex(1);
        QVERIFY(f.openPort());
        QCOMPARE(letter(f.form->serialLink().deviceName()), QStringLiteral("a"));
        unplug('b');
        plug('c');
        QCOMPARE(shown(), QStringLiteral("COM1=b *COM2=a")); // nothing changes while open
        QVERIFY(!list->isEnabled());
        f.click("comopen");
        QTRY_COMPARE(shown(), QStringLiteral("COM1=c *COM2=a"));
        plug('b', false);
        QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier); // dropping it down reads it again
        list->hidePopup();
        QTRY_COMPARE(shown(), QStringLiteral("COM1=c *COM2=a COM3=b"));
        ports.announce(); // a change that is no change
        QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier);
        list->hidePopup();
        // a: the probe and the user's open; b: again once it came back; c: once.
        QCOMPARE(counter.opens(), QStringLiteral("a:2 b:2 c:1"));
        unplug('a'); // the entry shown goes, the first one is shown
        QTRY_COMPARE(shown(), QStringLiteral("*COM1=c COM3=b"));
        QVERIFY(f.openPort());
        QCOMPARE(letter(f.form->serialLink().deviceName()), QStringLiteral("c"));
        hosts[2]->vanish();
        unplug('c');
        QTRY_COMPARE(shown(), QStringLiteral("*COM3=b"));
        QCOMPARE(f.messages(), QStringList{kDeviceError});
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

    // Each way an open can fail: one message, then "Close" in light blue on a closed port that
    // the next click closes quietly. Once a holder lets go the port opens and a request
    // succeeds; a device that is gone stays so.
    void openFails_data() {
        QTest::addColumn<QString>("how"); // a scripted link's failing operation and code, or who
                                          // holds the device, or what the map says
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("message"); // %1: the device
        const auto row = [](const char* name, const QString& how, const char* entries,
                            const QString& message) {
            QTest::newRow(name) << how << entries << message;
        };
        row("empty port list", "none", "", kNotAvailable);
        // Root opens a device whatever its mode, so for root the refusal has to be scripted.
        row("no permission", ::geteuid() ? "chmod" : "open 8090", ::geteuid() ? "COM1" : "",
            QStringLiteral("No permission to open %1,please join the group that owns it (dialout "
                           "on Debian) and log in again\uFF01"));
        row("scripted 380", "setSettings 380", "", QStringLiteral("Illegal properties\uFF01"));
        row("scripted 8012", "open 8012", "", QStringLiteral("No power\uFF01"));
        row("scripted unknown code", "open 8099", "", QString());
        // A device keeps one number, whatever the map says.
        row("same device listed twice, held by another window", "twice", "COM2", kAlreadyOpen);
        row("same device under an alias, held by another window", "alias", "COM1 COM2",
            kAlreadyOpen);
        row("taken by another program after the probe", "program", "COM1", kAlreadyOpen);
        row("gone after the probe", "gone", "COM1", kNotAvailable);
    }

    void openFails() {
        QFETCH(QString, how);
        QFETCH(QString, entries);
        QFETCH(QString, message);
        WindowFixture f(how != "none");
        WindowFixture other(false);
        const QString device = f.module ? f.module->devicePath() : QString();
        QSerialPort program(device);
        QTemporaryDir dir;
        const QString alias = dir.filePath(QStringLiteral("alias"));
        PortMap map;
        map.set(1, device);
        if (how == "alias")
            QVERIFY(QFile::link(device, alias));
        if (how == "twice" || how == "alias")
            map.set(2, how == "alias" ? alias : device);
        if (how.contains(u' ')) {
            auto link = std::make_unique<ScriptedLink>();
            link->failures.insert(how.section(u' ', 0, 0), how.section(u' ', 1).toInt());
            f.rebuild({}, std::move(link));
        } else if (!device.isEmpty()) {
            f.rebuild(map);
            other.rebuild(map);
        }
        QComboBox* comport = f.combo("comport");
        QStringList listed;
        for (int i = 0; i < comport->count(); ++i)
            listed << comport->itemText(i);
        QCOMPARE(listed.join(u' '), entries);
        comport->setCurrentIndex(comport->count() - 1);
        if (how == "chmod")
            QCOMPARE(::chmod(qPrintable(device), 0), 0);
        else if (how == "twice" || how == "alias")
            QVERIFY(other.openPort()); // its first entry
        else if (how == "program")
            QVERIFY(program.open(QIODevice::ReadWrite));
        else if (how == "gone")
            f.module.reset();

        f.click("comopen");
        expectPort(f, "Close", kLightBlue, false);
        message.replace("%1", f.form->serialLink().deviceName());
        const QStringList once = message.isEmpty() ? QStringList() : QStringList{message};
        QCOMPARE(f.messages(), once);
        f.click("comopen"); // closes quietly
        expectPort(f, "Open", {}, false);
        QCOMPARE(f.messages(), once);
        if (other.form->serialLink().portOpen())
            other.click("comopen");
        program.close();
        if (how == "gone") {
            f.click("comopen");
            QCOMPARE(f.messages(), once + once);
        } else if (how == "program" || how == "twice" || how == "alias") {
            QVERIFY(f.openPort());
            f.click("Command1");
            QTRY_COMPARE(f.status(), kOk);
            QCOMPARE(f.messages(), once);
        }
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

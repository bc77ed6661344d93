#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QSerialPort>
#include <QTemporaryDir>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

using namespace zentrava;
using namespace zentrava::test;

const QColor kLightGreen(192, 255, 192);
const QColor kLightBlue(192, 192, 255);

// The port button and what goes with it; no colour stands for the usual button face.
static void expectPort(WindowFixture& f, const char* caption, QColor colour, bool open) {
    QPushButton* comopen = f.button("comopen");
    colour = colour.isValid() ? colour : QApplication::palette(comopen).color(QPalette::Button);
    QCOMPARE(comopen->palette().color(QPalette::Button), colour);
    QCOMPARE(f.combo("comport")->isEnabled(), !open);
    QCOMPARE(f.state("").section(" | ", 2, 6),
             WindowFixture::line({}, {}, open ? 12 : 0, 0, open, caption,
                                 open ? "Opened 9600,n,8,1" : "Closed 9600,n,8,1", false, {})
                 .section(" | ", 2, 6));
}

class FakePorts final : public PortSource {
public:
    QList<PortDevice> present;
    QList<PortDevice> devices() const override { return present; }
    void announce() { Q_EMIT changed(); }
};

// Opens of each device as the kernel saw them, "a:1 b:2"; closes keep like events apart.
struct OpenCounter {
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    std::map<int, QChar> letters; // by watch
    std::map<QChar, int> counts;
    ~OpenCounter() { ::close(fd); }
    void watch(const QString& path, QChar letter) {
        letters[inotify_add_watch(fd, QFile::encodeName(path), IN_OPEN | IN_CLOSE)] = letter;
    }
    QString opens() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            for (const char* p = buffer; p < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(p);
                counts[letters[event->wd]] += (event->mask & IN_OPEN) ? 1 : 0;
                p += sizeof(inotify_event) + event->len;
            }
        }
        QStringList list;
        for (const auto& [letter, count] : counts)
            list << QStringLiteral("%1:%2").arg(letter).arg(count);
        return list.join(u' ');
    }
};

class TestWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Tooltips for screen readers too, bold buttons off until a port opens, boxes drawn green.
    void everyControl() {
        WindowFixture f(false);
        int controls = 0;
        for (QWidget* w : f.form->findChildren<QWidget*>()) {
            const QString kind = QLatin1String(w->metaObject()->className());
            if (qobject_cast<QComboBox*>(w->parentWidget()) ||
                (kind != "QPushButton" && kind != "QComboBox" && kind != "QLineEdit"))
                continue;
            ++controls;
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
            QCOMPARE(QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description),
                     w->toolTip());
            if (kind == "QPushButton") {
                QVERIFY(w->font().bold() && w->font().pointSize() == 9);
                QCOMPARE(w->isEnabled(), w == f.button("comopen"));
                continue;
            }
            QCOMPARE(w->palette().color(QPalette::Base), kLightGreen);
            if (auto* box = qobject_cast<QComboBox*>(w)) // nothing is picked at start-up
                QCOMPARE(box->currentIndex(), -1);
            if (w == f.combo("comport")) // the one list not editable, drawn as a button
                continue;
            const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
            const qsizetype area = image.width() * image.height();
            QVERIFY(std::count(pixels, pixels + area, kLightGreen.rgb()) > area * 3 / 10);
        }
        QCOMPARE(controls, 24);
        // The texts the operator reads, odd spellings included, each list's span; not the clock.
        QStringList texts{f.form->windowTitle()};
        for (QWidget* w : f.form->findChildren<QWidget*>()) {
            if (auto* frame = qobject_cast<QGroupBox*>(w))
                texts << frame->title();
            else if (auto* button = qobject_cast<QPushButton*>(w))
                texts << button->text();
            else if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty())
                texts << label->text();
            else if (auto* box = qobject_cast<QComboBox*>(w); box && box->count() > 0)
                texts << QStringLiteral("%1..%2(%3)")
                             .arg(box->itemText(0), box->itemText(box->count() - 1))
                             .arg(box->count());
        }
        QCOMPARE(texts.mid(0, texts.size() - 1).join(u'|'),
                 QStringLiteral("RF tool for KT7720 868MHz|Usart|Open|frequency|Read|Write|"
                                "RX frequency|Rread|Write|RF Datarate|1200..57600(7)|Read|Write|"
                                "RF_Channel|0..32(33)|Read|Write|ProductID(1~65536)|Read|Write|"
                                "TX_Power|1..127(127)|Rread|Write|Serial Port Configuration|"
                                "BaudRate|1200..115200(8)|Parity|n..o(3)|Read|Write|"
                                "Closed 9600,n,8,1"));
        QCOMPARE(f.boxTexts("TXfrequency/id/Combo1/Combo2/datarate/sbaudrate/scheckbits"),
                 QStringLiteral("868/00000/0/127/9600/9600/n"));
        // A place of the layout, in twips: 15 a pixel at 96 DPI.
        const double px = f.form->logicalDpiX() / 96.0 / 15;
        QCOMPARE(f.widget("comport")->geometry(),
                 QRect(QPoint(960, 240) * px, QSize(840, 300) * px));
    }

    // The port list follows devices while the port is closed and opens the entry shown.
    void lifeOfTheWindow() {
        std::unique_ptr<emu::PtyHost> hosts[3];
        QStringList paths; // "a", "b" and "c" in path order
        OpenCounter counter;
        for (auto& host : hosts) {
            host = std::make_unique<emu::PtyHost>();
            QVERIFY(host->open());
            paths << host->devicePath();
        }
        paths.sort();
        const auto letter = [&](const QString& path) {
            return QChar(char16_t(u'a' + paths.indexOf(path)));
        };
        for (const QString& path : paths)
            counter.watch(path, letter(path));
        auto source = std::make_unique<FakePorts>();
        FakePorts& ports = *source;
        const auto plug = [&](char c) {
            ports.present.append({paths.value(c - 'a'), QStringLiteral("adapter %1").arg(c), 0});
            ports.announce();
        };
        const auto unplug = [&](char c) {
            ports.present.removeIf([&](auto& d) { return letter(d.device) == QChar(c); });
            ports.announce();
        };
        plug('b');
        WindowFixture f(false);
        f.form = std::make_unique<Form1>(std::move(source), f.recorders.services());
        QCOMPARE(f.form->windowTitle(), QStringLiteral("RF tool for KT7720 868MHz"));
        // Idle costs what it did: nothing but the minute clock waits for time to pass.
        QList<QTimer*> armed = f.form->findChildren<QTimer*>();
        armed.removeIf([](QTimer* timer) { return !timer->isActive(); });
        QVERIFY(armed.size() == 1 && armed[0]->isSingleShot() && armed[0] != f.timer2());
        expectPort(f, "Open", {}, false);
        QVERIFY(!f.widget<QLabel>("Image1")->pixmap().isNull());
        QTest::mouseClick(f.widget("Image1"), Qt::LeftButton);
        QCOMPARE(f.recorders.urls, QList<QUrl>{QUrl(ZENTRAVA_MAKER_URL)});
        QComboBox* list = f.combo("comport");
        QVERIFY(list->itemData(0, Qt::ToolTipRole).toString().contains("adapter b"));
        // "COM1=a *COM2=b": each entry with the device its tip names, the current one starred.
        const auto shown = [&] {
            QStringList entries;
            for (int i = 0; i < list->count(); ++i) {
                const QString tip = list->itemData(i, Qt::ToolTipRole).toString();
                entries << (i == list->currentIndex() ? "*" : "") + list->itemText(i) + '=' +
                               letter(tip.section(' ', 0, 0));
            }
            return entries.join(' ');
        };
        const auto dropDown = [&] {
            QTest::keyClick(list, Qt::Key_Down, Qt::AltModifier); // dropping it down reads it again
            list->hidePopup();
        };
        QCOMPARE(shown(), QStringLiteral("*COM1=b"));
        plug('a'); // a new device takes the lowest free number
        QTRY_COMPARE(shown(), QStringLiteral("*COM1=b COM2=a"));
        QTest::keyClick(list, Qt::Key_Down); // the selected entry decides which device opens
        QVERIFY(f.openPort());
        QCOMPARE(letter(f.form->serialLink().deviceName()), u'a');
        expectPort(f, "Close", kLightBlue, true);
        QVERIFY(!f.widget("Frame7")->isEnabled());
        unplug('b');
        plug('c');
        QCOMPARE(shown(), QStringLiteral("COM1=b *COM2=a")); // nothing changes while open
        f.click("comopen");
        expectPort(f, "Open", {}, false);
        QTRY_COMPARE(shown(), QStringLiteral("COM1=c *COM2=a"));
        ports.present.append({paths.value(1), QString(), 0}); // b, unannounced
        dropDown();
        QTRY_COMPARE(shown(), QStringLiteral("COM1=c *COM2=a COM3=b"));
        ports.announce(); // a change that is no change
        dropDown();
        // An open resets many boards: the list opens a device again only once it came back.
        QCOMPARE(counter.opens(), QStringLiteral("a:2 b:2 c:1"));
        unplug('a'); // the entry shown goes, the first one is shown
        QTRY_COMPARE(shown(), QStringLiteral("*COM1=c COM3=b"));
        QVERIFY(f.openPort());
        QCOMPARE(letter(f.form->serialLink().deviceName()), u'c');
        QCOMPARE(f.messages(), QStringList());
        for (auto& host : hosts)
            if (letter(host->devicePath()) == u'c')
                host->vanish();
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
        QCOMPARE(f.combo("comport")->toolTip().split(u'\n').mid(2),
                 (QStringList{"/dev/absent-tty2: no permission (add yourself to the dialout group)",
                              "/dev/absent-tty3: in use by another program"}));
    }

    // A failed open: one message, "Close" in light blue on a closed port, then a quiet close;
    // once a holder lets go the port opens and a request succeeds.
    void openFails_data() {
        QTest::addColumn<QString>("how"); // a scripted failure and code, or who holds the device
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QStringList>("messages"); // %1: the device
        const auto row = [](const char* name, const QString& how, const char* entries,
                            const QString& message) {
            QTest::newRow(name) << how << entries
                                << (message.isNull() ? QStringList() : QStringList{message});
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
        QFETCH(QStringList, messages);
        WindowFixture f(how != "none"), other(false);
        const QString device = f.module ? f.module->devicePath() : QString();
        QSerialPort program(device);
        QTemporaryDir dir;
        const bool held = how == "twice" || how == "alias";
        PortMap map;
        map.set(1, device);
        if (how == "alias")
            QVERIFY(QFile::link(device, dir.filePath("alias")));
        if (held)
            map.set(2, how == "alias" ? dir.filePath("alias") : device);
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
        QCOMPARE(listed.join(' '), entries);
        comport->setCurrentIndex(comport->count() - 1);
        if (how == "chmod")
            QCOMPARE(::chmod(qPrintable(device), 0), 0);
        else if (held)
            QVERIFY(other.openPort()); // its first entry
        else if (how == "program")
            QVERIFY(program.open(QIODevice::ReadWrite));
        else if (how == "gone")
            f.module.reset();

        f.click("comopen");
        expectPort(f, "Close", kLightBlue, false);
        const QStringList once = messages.replaceInStrings("%1", f.form->serialLink().deviceName());
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
        } else if (how == "program" || held) {
            QVERIFY(f.openPort());
            f.click("Command1");
            QTRY_COMPARE(f.status(), kOk);
            QCOMPARE(f.messages(), once);
        }
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>
#include <QTime>
#include <QTimer>

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

using namespace zentrava;
using namespace zentrava::test;

namespace {

const QString kClosed = QStringLiteral("Closed 9600,n,8,1");
const QColor kLightGreen(192, 255, 192);
const QColor kLightBlue(192, 192, 255);

// 15 twips are one pixel at 96 DPI; the window scales with the screen's logical DPI.
QRect pixelsFromTwips(const QWidget* window, const QRect& twips) {
    const double scale = window->logicalDpiX() / 96.0;
    auto px = [scale](int t) { return int(std::lround(t * scale / 15)); };
    return QRect(px(twips.left()), px(twips.top()), px(twips.width()), px(twips.height()));
}

double shareOfColour(const QImage& image, const QColor& colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
    }
    return image.isNull() ? 0.0 : double(count) / (image.width() * image.height());
}

QStringList entries(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

QStringList numbers(int first, int last) {
    QStringList list;
    for (int n = first; n <= last; ++n)
        list << QString::number(n);
    return list;
}

ScriptedLink* useScriptedLink(WindowFixture& f) {
    auto link = std::make_unique<ScriptedLink>();
    ScriptedLink* scripted = link.get();
    scripted->openablePorts = {1};
    f.form = std::make_unique<Form1>(PortMap(), f.recorders.services(), std::move(link));
    return scripted;
}

void expectClosed(WindowFixture& f) {
    QPushButton* comopen = f.button("comopen");
    QCOMPARE(comopen->text(), QStringLiteral("Open"));
    QCOMPARE(comopen->palette().color(QPalette::Button),
             QApplication::palette(comopen).color(QPalette::Button));
    QVERIFY(!f.form->serialLink().portOpen());
    QVERIFY(f.combo("comport")->isEnabled());
    QCOMPARE(f.enabledCommandButtons(), 0);
    QCOMPARE(f.form->panelText(1), kClosed);
}

// A failed open leaves "Close" in light blue on a closed port; the next click closes quietly.
void openFailsThenCloses(WindowFixture& f) {
    f.click("comopen");
    QCOMPARE(f.button("comopen")->text(), QStringLiteral("Close"));
    QCOMPARE(f.button("comopen")->palette().color(QPalette::Button), kLightBlue);
    QVERIFY(!f.form->serialLink().portOpen());
    QVERIFY(f.combo("comport")->isEnabled());
    QCOMPARE(f.enabledCommandButtons(), 0);
    QCOMPARE(f.form->panelText(1), kClosed);

    const QStringList shown = f.messages();
    f.click("comopen");
    expectClosed(f);
    QCOMPARE(f.messages(), shown);
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controls_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QRect>("twips");
        auto row = [](const char* name, const char* kind, const char* parent, const char* text,
                      bool enabled, QRect twips) {
            QTest::newRow(name) << kind << parent << text << enabled << twips;
        };
        row("Frame1", "QGroupBox", "Form1", "Usart", true, {100, 120, 1890, 630});
        row("comport", "QComboBox", "Frame1", "", true, {960, 240, 840, 300});
        row("comopen", "QPushButton", "Frame1", "Open", true, {120, 240, 720, 285});
        row("Label2", "QLabel", "Frame1", "", true, {75, 975, 585, 165});
        row("Frame2", "QGroupBox", "Form1", "frequency", true, {2000, 120, 2900, 700});
        row("TXfrequency", "QLineEdit", "Frame2", "868", true, {120, 270, 700, 280});
        row("readchannel", "QPushButton", "Frame2", "Read", false, {930, 240, 800, 300});
        row("writechannel", "QPushButton", "Frame2", "Write", false, {1880, 240, 800, 300});
        row("Frame7", "QGroupBox", "Form1", "RX frequency", false, {4950, 120, 2900, 700});
        row("RXfrequency", "QLineEdit", "Frame7", "868", false, {120, 270, 700, 280});
        row("readpowerlevel", "QPushButton", "Frame7", "Rread", false, {960, 240, 800, 300});
        row("writepowerlevel", "QPushButton", "Frame7", "Write", false, {1830, 240, 800, 300});
        row("Frame3", "QGroupBox", "Form1", "RF Datarate", true, {2000, 900, 2900, 700});
        row("datarate", "QComboBox", "Frame3", "9600", true, {120, 240, 735, 300});
        row("readdatarate", "QPushButton", "Frame3", "Read", false, {960, 240, 800, 300});
        row("writedatarate", "QPushButton", "Frame3", "Write", false, {1880, 240, 800, 300});
        row("Frame6", "QGroupBox", "Form1", "RF_Channel", true, {4950, 900, 2900, 735});
        row("Combo1", "QComboBox", "Frame6", "0", true, {120, 240, 735, 300});
        row("Command1", "QPushButton", "Frame6", "Read", false, {960, 240, 800, 300});
        row("Command2", "QPushButton", "Frame6", "Write", false, {1830, 240, 800, 300});
        row("Frame5", "QGroupBox", "Form1", "ProductID(1~65536)", true, {2000, 1700, 2900, 700});
        row("id", "QLineEdit", "Frame5", "00000", true, {120, 270, 700, 280});
        row("readid", "QPushButton", "Frame5", "Read", false, {960, 270, 800, 300});
        row("writeid", "QPushButton", "Frame5", "Write", false, {1880, 270, 800, 300});
        row("Frame8", "QGroupBox", "Form1", "TX_Power", true, {4950, 1700, 2900, 700});
        row("Combo2", "QComboBox", "Frame8", "127", true, {120, 240, 735, 300});
        row("Command3", "QPushButton", "Frame8", "Rread", false, {960, 240, 800, 300});
        row("Command4", "QPushButton", "Frame8", "Write", false, {1830, 240, 800, 300});
        row("Frame4", "QGroupBox", "Form1", "Serial Port Configuration", true,
            {2000, 2520, 5850, 700});
        row("Label8", "QLabel", "Frame4", "BaudRate", true, {120, 250, 780, 255});
        row("sbaudrate", "QComboBox", "Frame4", "9600", true, {960, 250, 735, 300});
        row("Label11", "QLabel", "Frame4", "Parity", true, {1680, 250, 750, 285});
        row("scheckbits", "QComboBox", "Frame4", "n", true, {2520, 250, 615, 300});
        row("readserial", "QPushButton", "Frame4", "Read", false, {3480, 250, 800, 300});
        row("writeserial", "QPushButton", "Frame4", "Write", false, {4600, 250, 800, 300});
        row("Image1", "QLabel", "Form1", "", true, {360, 1440, 1170, 1155});
    }

    void controls() {
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QFETCH(QRect, twips);
        WindowFixture f(false);
        QWidget* widget = f.widget(QTest::currentDataTag());

        QCOMPARE(widget->parentWidget(), parent == QLatin1String("Form1")
                                             ? f.form->centralWidget()
                                             : f.widget(qPrintable(parent)));
        QCOMPARE(widget->geometry(), pixelsFromTwips(f.form.get(), twips));
        QCOMPARE(widget->isEnabled(), enabled);
        QCOMPARE(widget->metaObject()->className(), qPrintable(kind));
        const bool box = kind == QLatin1String("QComboBox") || kind == QLatin1String("QLineEdit");
        const char* caption = kind == QLatin1String("QGroupBox")   ? "title"
                              : kind == QLatin1String("QComboBox") ? "currentText"
                                                                   : "text";
        QCOMPARE(widget->property(caption).toString(), text);
        if (kind == QLatin1String("QPushButton")) {
            QVERIFY(widget->font().bold());
            QCOMPARE(widget->font().pointSize(), 9);
        }
        if (box) {
            QCOMPARE(widget->palette().color(QPalette::Base), kLightGreen);
            // A style sheet could paint over the palette; the port list is drawn as a button.
            if (widget->objectName() != QLatin1String("comport"))
                QVERIFY(shareOfColour(widget->grab().toImage(), kLightGreen) > 0.3);
        }
    }

    void lists_data() {
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("initial");
        const QStringList rates{"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
        QTest::newRow("sbaudrate") << (rates + QStringList{"115200"}) << "9600";
        QTest::newRow("scheckbits") << QStringList{"n", "e", "o"} << "n";
        QTest::newRow("Combo1") << numbers(0, 32) << "0";
        QTest::newRow("Combo2") << numbers(1, 127) << "127";
        QTest::newRow("datarate") << rates << "9600";
    }

    void lists() {
        QFETCH(QStringList, expected);
        QFETCH(QString, initial);
        WindowFixture f(false);
        QComboBox* box = f.combo(QTest::currentDataTag());
        QCOMPARE(entries(box), expected);
        QVERIFY(box->isEditable());
        QCOMPARE(box->currentIndex(), -1);
        QCOMPARE(box->currentText(), initial);
    }

    void startupWindow() {
        const QString before = QTime::currentTime().toString(QStringLiteral("HH:mm"));
        WindowFixture f(false);
        const QString after = QTime::currentTime().toString(QStringLiteral("HH:mm"));

        QCOMPARE(f.form->windowTitle(), QStringLiteral("RF tool for KT7720 868MHz"));
        QCOMPARE(f.form->panelText(1), kClosed);
        QCOMPARE(f.form->panelText(2), QString());
        const QString clock = f.form->panelText(3);
        QVERIFY2(clock == before || clock == after, qPrintable(clock));
        QVERIFY(!f.widget("Frame1")->rect().intersects(f.widget("Label2")->geometry()));
        QCOMPARE(f.combo("comport")->count(), 0);
        QCOMPARE(f.combo("comport")->currentIndex(), -1);
        QVERIFY(!f.combo("comport")->isEditable());
        QVERIFY(!f.widget<QTimer>("Timer2")->isActive());
        expectClosed(f);
        QVERIFY(f.messages().isEmpty());
    }

    void probeListsOpenablePorts() {
        emu::PtyHost three;
        emu::PtyHost eleven;
        QVERIFY(three.open());
        QVERIFY(eleven.open());
        PortMap map;
        for (int port = 1; port <= PortMap::kPortCount; ++port)
            map.set(port, QStringLiteral("/dev/zentrava-absent-%1").arg(port));
        map.set(3, three.devicePath(), QStringLiteral("left adapter"));
        map.set(11, eleven.devicePath(), QStringLiteral("right adapter"));
        WindowFixture f(false);
        f.form = std::make_unique<Form1>(map, f.recorders.services());

        QComboBox* comport = f.combo("comport");
        QCOMPARE(entries(comport), QStringList({"COM3", "COM11"}));
        QCOMPARE(comport->currentText(), QStringLiteral("COM3"));
        const QString tip3 = comport->itemData(0, Qt::ToolTipRole).toString();
        const QString tip11 = comport->itemData(1, Qt::ToolTipRole).toString();
        QVERIFY2(tip3.split(QLatin1Char(' ')).contains(three.devicePath()), qPrintable(tip3));
        QVERIFY2(tip3.contains(QStringLiteral("left adapter")), qPrintable(tip3));
        QVERIFY2(tip11.split(QLatin1Char(' ')).contains(eleven.devicePath()), qPrintable(tip11));
        QVERIFY(!f.form->serialLink().portOpen());
        QCOMPARE(f.form->serialLink().commPort(), 1);

        // The selected entry decides which device opens.
        QTest::keyClick(comport, Qt::Key_Down);
        QCOMPARE(comport->currentText(), QStringLiteral("COM11"));
        QVERIFY(f.openPort());
        QCOMPARE(f.form->serialLink().deviceName(), eleven.devicePath());
        QVERIFY(f.messages().isEmpty());
    }

    void openAndClose() {
        WindowFixture f;
        QVERIFY(f.openPort());
        QCOMPARE(f.button("comopen")->text(), QStringLiteral("Close"));
        QCOMPARE(f.button("comopen")->palette().color(QPalette::Button), kLightBlue);
        QCOMPARE(f.form->panelText(1), QStringLiteral("Opened 9600,n,8,1"));
        QCOMPARE(f.enabledCommandButtons(), 12);
        QVERIFY(!f.combo("comport")->isEnabled());
        QVERIFY(!f.button("readpowerlevel")->isEnabled());
        QVERIFY(!f.button("writepowerlevel")->isEnabled());

        f.click("comopen");
        expectClosed(f);
        QVERIFY(f.messages().isEmpty());
    }

    void noSuchDevice_data() {
        QTest::addColumn<QString>("device");
        QTest::newRow("empty port list") << QString();
        QTest::newRow("COM1 names a missing device") << "/dev/zentrava-no-such-tty";
    }

    void noSuchDevice() {
        QFETCH(QString, device);
        WindowFixture f(false);
        PortMap map;
        map.set(1, device);
        f.form = std::make_unique<Form1>(map, f.recorders.services());
        QCOMPARE(f.combo("comport")->count(), 0);

        openFailsThenCloses(f);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(f.messages(), QStringList{QStringLiteral("Port is not available\uFF01")});
    }

    void heldByAnotherProgram() {
        WindowFixture f;
        QSerialPort other(f.module->devicePath());
        QVERIFY(other.open(QIODevice::ReadWrite));

        openFailsThenCloses(f);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(f.messages(),
                 QStringList{QStringLiteral("Port already opened,please check-ups\uFF01")});
    }

    void noPermission() {
        WindowFixture f;
        QString device = f.module->devicePath();
        if (::geteuid() == 0) {
            // Root opens a device whatever its mode, so the refusal has to be scripted.
            ScriptedLink* link = useScriptedLink(f);
            link->failures.insert(QStringLiteral("open"), serial_error::kPermissionDenied);
            device = link->deviceName();
        } else {
            QCOMPARE(::chmod(QFile::encodeName(device).constData(), 0), 0);
        }

        openFailsThenCloses(f);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(f.messages().size(), 1);
        const QString message = f.messages().first();
        QVERIFY2(message.contains(device), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("dialout")), qPrintable(message));
        QVERIFY(message.endsWith(QChar(0xFF01)));
    }

    void scriptedFailure_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("380 settings refused")
            << "setSettings" << 380 << QStringLiteral("Illegal properties\uFF01");
        QTest::newRow("8007 baud rate refused")
            << "open" << 8007 << QStringLiteral("Invalid baudrate\uFF01");
        QTest::newRow("8012 device not open") << "open" << 8012 << QStringLiteral("No power\uFF01");
        QTest::newRow("8020 device error")
            << "open" << 8020 << QStringLiteral("Serial device error\uFF01");
        QTest::newRow("8099 unknown code") << "open" << 8099 << QString();
    }

    void scriptedFailure() {
        QFETCH(QString, operation);
        QFETCH(int, code);
        QFETCH(QString, message);
        WindowFixture f(false);
        useScriptedLink(f)->failures.insert(operation, code);

        openFailsThenCloses(f);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(f.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    }

    void unplugWhileOpen() {
        WindowFixture f;
        QVERIFY(f.openPort());
        auto* port = f.form->serialLink().findChild<QSerialPort*>();
        QVERIFY(port);
        QSignalSpy lost(&f.form->serialLink(), &SerialLink::deviceLost);
        // Runs after the link's own handler: every error it reports must find the port closed.
        QList<bool> openAfterError;
        QObject watch; // goes before the list does
        connect(port, &QSerialPort::errorOccurred, &watch, [&](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError)
                openAfterError << port->isOpen();
        });

        f.module->vanish();
        QTRY_COMPARE(f.button("comopen")->text(), QStringLiteral("Open"));
        QVERIFY(!openAfterError.isEmpty());
        QVERIFY(!openAfterError.contains(true));
        expectClosed(f);
        QCOMPARE(f.messages(), QStringList{QStringLiteral("Serial device error\uFF01")});

        // Only to show that nothing follows: no error loop, no second report.
        QSignalSpy errors(port, &QSerialPort::errorOccurred);
        QTest::qWait(200);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(lost.count(), 1);
        QCOMPARE(f.messages().size(), 1);
    }

    void logoOpensMakerSite() {
        WindowFixture f(false);
        auto* logo = f.widget<QLabel>("Image1");
        QVERIFY(!logo->pixmap().isNull());
        QTest::mouseClick(logo, Qt::LeftButton);
        QCOMPARE(f.recorders.launcher.urls.size(), 1);
        const QUrl url = f.recorders.launcher.urls.first();
        QVERIFY2(url.isValid() && !url.host().isEmpty(), qPrintable(url.toString()));
        QVERIFY(f.messages().isEmpty());
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
// The support header declares a QObject that the test target does not list for moc.

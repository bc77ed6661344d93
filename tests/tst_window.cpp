#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

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

class TestWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controls_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QRect>("twips");      // only for a few, to check the layout
        QTest::addColumn<QStringList>("list"); // of a box with a list
        QTest::addColumn<QString>("says");     // a part of its tooltip
        // Every control says what it does and what it takes, to the mouse and to screen readers.
        const QMap<QString, QString> says = {
            {"comport", "COM1 to COM16"},
            {"comopen", "9600,n,8,1"},
            {"TXfrequency", "855 to 875 MHz"},
            {"readchannel", "Read the transmit frequency, 855 to 875 MHz"},
            {"writechannel", "Write the transmit frequency, 855 to 875 MHz"},
            {"RXfrequency", "Receive frequency"},
            {"readpowerlevel", "Read the receive frequency"},
            {"writepowerlevel", "Write the receive frequency"},
            {"datarate", "1200 to 57600"},
            {"readdatarate", "Read the RF data rate, 1200 to 57600"},
            {"writedatarate", "Write the RF data rate, 1200 to 57600"},
            {"Combo1", "0 to 255"},
            {"Command1", "Read the RF channel, 0 to 255"},
            {"Command2", "Write the RF channel, 0 to 255"},
            {"id", "1 to 65535"},
            {"readid", "Read the product ID, 1 to 65535"},
            {"writeid", "Write the product ID, 1 to 65535"},
            {"Combo2", "0 to 255"},
            {"Command3", "Read the transmit power level, 0 to 255"},
            {"Command4", "Write the transmit power level, 0 to 255"},
            {"sbaudrate", "1200 to 115200"},
            {"scheckbits", "n (none), e (even) or o (odd)"},
            {"readserial", "Read the baud rate (1200 to 115200) and parity (n, e or o)"},
            {"writeserial", "Write the baud rate (1200 to 115200) and parity (n, e or o)"},
            {"Image1", "Open " ZENTRAVA_MAKER_URL},
        };
        auto row = [&](const char* name, const char* kind, const char* parent, const char* text,
                       bool enabled, QRect twips = {}, QStringList list = {}) {
            QTest::newRow(name) << kind << parent << text << enabled << twips << list
                                << says.value(name);
        };
        const QStringList rates{"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
        QStringList numbers;
        for (int n = 0; n <= 127; ++n)
            numbers << QString::number(n);
        row("Frame1", "QGroupBox", "client", "Usart", true, {100, 120, 1890, 630}); // moved
        row("comport", "QComboBox", "Frame1", "", true, {960, 240, 840, 300});
        row("comopen", "QPushButton", "Frame1", "Open", true);
        row("Label2", "QLabel", "Frame1", "", true, {75, 975, 585, 165});
        row("Frame2", "QGroupBox", "client", "frequency", true);
        row("TXfrequency", "QLineEdit", "Frame2", "868", true, {120, 270, 700, 280});
        row("readchannel", "QPushButton", "Frame2", "Read", false);
        row("writechannel", "QPushButton", "Frame2", "Write", false);
        row("Frame7", "QGroupBox", "client", "RX frequency", false);
        row("RXfrequency", "QLineEdit", "Frame7", "868", false);
        row("readpowerlevel", "QPushButton", "Frame7", "Rread", false);
        row("writepowerlevel", "QPushButton", "Frame7", "Write", false);
        row("Frame3", "QGroupBox", "client", "RF Datarate", true);
        row("datarate", "QComboBox", "Frame3", "9600", true, {}, rates);
        row("readdatarate", "QPushButton", "Frame3", "Read", false);
        row("writedatarate", "QPushButton", "Frame3", "Write", false);
        row("Frame6", "QGroupBox", "client", "RF_Channel", true, {4950, 900, 2900, 735});
        row("Combo1", "QComboBox", "Frame6", "0", true, {}, numbers.mid(0, 33));
        row("Command1", "QPushButton", "Frame6", "Read", false);
        row("Command2", "QPushButton", "Frame6", "Write", false);
        row("Frame5", "QGroupBox", "client", "ProductID(1~65536)", true);
        row("id", "QLineEdit", "Frame5", "00000", true);
        row("readid", "QPushButton", "Frame5", "Read", false);
        row("writeid", "QPushButton", "Frame5", "Write", false);
        row("Frame8", "QGroupBox", "client", "TX_Power", true);
        row("Combo2", "QComboBox", "Frame8", "127", true, {}, numbers.mid(1));
        row("Command3", "QPushButton", "Frame8", "Rread", false);
        row("Command4", "QPushButton", "Frame8", "Write", false);
        row("Frame4", "QGroupBox", "client", "Serial Port Configuration", true);
        row("Label8", "QLabel", "Frame4", "BaudRate", true);
        row("sbaudrate", "QComboBox", "Frame4", "9600", true, {}, rates + QStringList{"115200"});
        row("Label11", "QLabel", "Frame4", "Parity", true);
        row("scheckbits", "QComboBox", "Frame4", "n", true, {}, {"n", "e", "o"});
        row("readserial", "QPushButton", "Frame4", "Read", false);
        row("writeserial", "QPushButton", "Frame4", "Write", false, {4600, 250, 800, 300});
        row("Image1", "QLabel", "client", "", true, {360, 1440, 1170, 1155});
    }

    void controls() {
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QFETCH(QRect, twips);
        QFETCH(QStringList, list);
        QFETCH(QString, says);
        WindowFixture f(false);
        QWidget* w = f.widget(QTest::currentDataTag());
        QVERIFY2(w->toolTip().contains(says), qPrintable(w->toolTip()));
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Description), w->toolTip());
        QCOMPARE(w->metaObject()->className(), qPrintable(kind));
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->isEnabled(), enabled);
        const double px = f.form->logicalDpiX() / 96.0 / 15; // 15 twips a pixel at 96 DPI
        if (!twips.isNull())
            QCOMPARE(w->geometry(), QRect(twips.topLeft() * px, twips.size() * px));
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            QCOMPARE(box->currentText(), text);
            QCOMPARE(box->count(), list.size());
            for (int i = 0; i < list.size(); ++i)
                QCOMPARE(box->itemText(i), list[i]);
            QCOMPARE(box->currentIndex(), -1);
            QCOMPARE(box->isEditable(), !list.isEmpty()); // all but the port list
        } else {
            QCOMPARE(w->property(kind == "QGroupBox" ? "title" : "text").toString(), text);
        }
        QVERIFY(kind != "QPushButton" || (w->font().bold() && w->font().pointSize() == 9));
        if (kind == "QComboBox" || kind == "QLineEdit") {
            QCOMPARE(w->palette().color(QPalette::Base), kLightGreen);
            // A style sheet could paint over the palette; the port list is drawn as a button.
            QVERIFY(w == f.combo("comport") || greenShare(w->grab().toImage()) > 0.3);
        }
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

    // Each way an open can fail: one message, then "Close" in light blue on a closed port. A
    // device taken or gone after the window listed it is in tst_window_faults::portTaken.
    void openFails_data() {
        QTest::addColumn<QString>("operation"); // that a scripted link fails with `code`
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // %1: the device
        auto row = [](const char* cause, const char* operation, int code, const char16_t* text) {
            QTest::newRow(cause) << operation << code << QString::fromUtf16(text);
        };
        row("empty port list", "", 8002, u"Port is not available\uFF01");
        row("no permission", "open", serial_error::kPermissionDenied,
            u"No permission to open %1,please join the group that owns it (dialout on Debian) "
            u"and log in again\uFF01");
        row("scripted 380", "setSettings", 380, u"Illegal properties\uFF01");
        row("scripted 8007", "open", 8007, u"Invalid baudrate\uFF01");
        row("scripted 8012", "open", 8012, u"No power\uFF01");
        row("scripted 8020", "open", 8020, u"Serial device error\uFF01");
        row("scripted unknown code", "open", 8099, u"");
    }

    void openFails() {
        QFETCH(QString, operation);
        QFETCH(int, code);
        QFETCH(QString, message);
        const QString cause = QTest::currentDataTag();
        WindowFixture f(cause != "empty port list");
        // Root opens a device whatever its mode, so for root the refusal has to be scripted.
        if (cause == "no permission" && ::geteuid() != 0) {
            QCOMPARE(::chmod(qPrintable(f.module->devicePath()), 0), 0);
        } else if (!operation.isEmpty()) {
            auto link = std::make_unique<ScriptedLink>();
            link->failures.insert(operation, code);
            f.rebuild({}, std::move(link));
        }

        f.click("comopen");
        expectPort(f, "Close", kLightBlue, false);
        QCOMPARE(f.messages().size(), message.isEmpty() ? 0 : 1);
        f.click("comopen"); // closes quietly
        expectPort(f, "Open", {}, false);
        message.replace("%1", f.form->serialLink().deviceName());
        QCOMPARE(f.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

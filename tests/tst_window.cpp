#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
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

    // A few controls as the operator sees them, odd spellings included.
    void controls_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");  // only for a few, to check the layout
        QTest::addColumn<QString>("says"); // a part of its tooltip
        const auto row = [](const char* name, const char* text, QRect twips = {},
                            const char* says = "") {
            QTest::newRow(name) << text << twips << says;
        };
        row("Frame1", "Usart", {100, 120, 1890, 630}); // moved
        row("comport", "", {960, 240, 840, 300}, "COM1 to COM16");
        row("TXfrequency", "868", {120, 270, 700, 280}, "855 to 875 MHz");
        row("Frame6", "RF_Channel", {4950, 900, 2900, 735});
        row("Command1", "Read", {}, "Read the RF channel, 0 to 255");
        row("Frame5", "ProductID(1~65536)");
        row("id", "00000", {}, "1 to 65535");
        row("readpowerlevel", "Rread");
        row("Command3", "Rread");
        row("scheckbits", "n", {}, "n (none), e (even) or o (odd)");
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
        const QByteArray property = qobject_cast<QGroupBox*>(w) ? "title" : "text";
        QCOMPARE(qobject_cast<QComboBox*>(w) ? qobject_cast<QComboBox*>(w)->currentText()
                                             : w->property(property).toString(),
                 text);
        const double px = f.form->logicalDpiX() / 96.0 / 15; // 15 twips a pixel at 96 DPI
        if (!twips.isNull())
            QCOMPARE(w->geometry(), QRect(twips.topLeft() * px, twips.size() * px));
    }

    // The lists: what the module takes, where the editable boxes start empty-handed.
    void lists() {
        WindowFixture f(false);
        const auto items = [&](const char* name) {
            QStringList texts;
            QComboBox* box = f.combo(name);
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
            const bool fresh = box->isEditable() && box->currentIndex() == -1;
            return texts.join(u' ') + u'|' + box->currentText() + (fresh ? "" : " (picked)");
        };
        QCOMPARE(items("datarate"), QString("1200 2400 4800 9600 19200 38400 57600|9600"));
        QCOMPARE(items("sbaudrate"), QString("1200 2400 4800 9600 19200 38400 57600 115200|9600"));
        QCOMPARE(items("scheckbits"), QString("n e o|n"));
        QVERIFY(items("Combo1").startsWith("0 1 2 ") && items("Combo1").endsWith(" 31 32|0"));
        QVERIFY(items("Combo2").startsWith("1 2 3 ") && items("Combo2").endsWith(" 126 127|127"));
        QVERIFY(!f.widget("Frame7")->isEnabled());
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
        row("scripted 8012", "open", 8012, u"No power\uFF01");
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

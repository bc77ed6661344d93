#include "support/window_fixture.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>

using namespace zentrava;
using namespace zentrava::test;

namespace {

// Shown and active, so clicks and keys take the operator's path.
bool openWindow(WindowFixture& f) {
    f.form->show();
    f.form->activateWindow();
    return QTest::qWaitForWindowActive(f.form.get()) && f.openPort();
}

// "[123]45" selects the first three characters; "1[]23" puts the caret after the 1.
void setMarkedText(QLineEdit* box, QString marked) {
    box->setFocus();
    const int open = int(marked.indexOf('[')), close = int(marked.indexOf(']'));
    box->setText(marked.remove(close, 1).remove(open, 1));
    box->setSelection(open, close - open - 1);
}

struct KeyCase {
    QString box, initial, typed; // the initial text is set as a whole, as a decoder does
    QStringList steps;           // the text after the set, then after each key and the chord
    QKeySequence chord;          // pressed after the typed keys
    QString clipboard, clipboardAfter;
    bool unreadable = false, unwritable = false; // the clipboard
};

} // namespace
Q_DECLARE_METATYPE(KeyCase)

class tst_Editors : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A write sends what the module then reports, a read fills emptied boxes; or it is refused.
    void writes_data() {
        QTest::addColumn<QString>("button");  // a Write
        QTest::addColumn<QString>("written"); // the serial editor's boxes as "baud/parity"
        QTest::addColumn<QString>("shown");   // null: sent as code 0, no reply decodes it
        const auto row = [](const char* button, const char* written, const char* shown) {
            QTest::addRow("%s %s", button, written) << button << written << QString(shown);
        };
        row("Command2", "2.5", "2");
        row("Command4", "126.5", "126");
        row("writedatarate", "57600", "57600");
        row("writedatarate", "300", nullptr);
        row("writeserial", "115200/o", "115200/o");
        row("writeserial", "300/n", nullptr);
        row("writeid", "00258", "258");
        row("writechannel", "868.5", "868.499994277954");
        // An empty text is refused before the lock; IDs are pasted, as typing takes no letter.
        row("Command2", "", "refused");
        row("writeserial", "/n", "refused");
        row("Command2", "300", "refused, locked");
        row("writeid", "19x", "refused, locked");
        row("writechannel", "86", "refused, locked");
    }

    void writes() {
        QFETCH(QString, button);
        QFETCH(QString, written);
        QFETCH(QString, shown);
        WindowFixture f;
        QVERIFY(openWindow(f));
        QSignalSpy replies(f.module.get(), &emu::PtyHost::replySent);
        const CommandButton& write = buttonNamed(button);
        const QString boxes = write.controls, status = shown.isNull() ? kFail : kOk;
        const bool pasted = button == "writeid" && shown.startsWith("refused");
        f.setBoxTexts(boxes, pasted ? "" : written);
        f.recorders.content = written;
        if (pasted)
            QTest::keyClick(f.boxes("id")[0], Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.boxTexts(boxes), written);
        f.click(write.name);
        if (shown.startsWith("refused")) {
            // A refused ID still waits for its code.
            QCOMPARE(f.state(boxes),
                     WindowFixture::line(kWaiting, written, shown.endsWith("locked") ? 0 : 12,
                                         pasted ? 9 : 0, true, "Close", "Opened 9600,n,8,1", true,
                                         {kInvalid}));
            QTRY_COMPARE_WITH_TIMEOUT(f.status(), kTimeOut, kWaitMs);
            QCOMPARE(f.enabledCommandButtons(), 12);
            QCOMPARE(f.wire(), QByteArray());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.status() != kWaiting, kWaitMs);
        QCOMPARE(replies.size(), 1);
        const int n = payloadLength(write.code);
        QCOMPARE(f.wire().mid(8, n).toHex(), replies[0][0].toByteArray().mid(8, n).toHex());
        QCOMPARE(f.status(), status);
        QCOMPARE(f.boxTexts(boxes), shown.isNull() ? written : shown);
        f.setBoxTexts(boxes, QString());
        const QString emptied = f.boxTexts(boxes);
        // A module told a new baud rate answers only at it (a pseudo-terminal keeps no parity).
        const int baud = f.module->model().line().number;
        QCOMPARE(f.form->serialLink().setSettings(moduleLineFor(baud, 'n')), 0);
        f.click((&write)[-1].name); // its Read
        QTRY_VERIFY_WITH_TIMEOUT(f.status() != kWaiting, kWaitMs);
        QCOMPARE(f.status(), status);
        QCOMPARE(f.boxTexts(boxes), shown.isNull() ? emptied : shown);
        QCOMPARE(f.messages(), QStringList());
    }

    void keys_data() {
        QTest::addColumn<KeyCase>("c");
        const auto typed = [](const char* name, const char* box, const char* initial,
                              const char* keys, const QStringList& steps) {
            QTest::newRow(name) << KeyCase{box, initial, keys, steps, {}, {}, {}};
        };
        const auto chord = [](const char* name, const char* initial, const char* chord,
                              const char* clipboard, const char* shown, const char* after,
                              bool unreadable = false, bool unwritable = false) {
            const QStringList steps = {QString(initial).remove('[').remove(']'), shown};
            QTest::newRow(name) << KeyCase{
                "id",      initial, "",         steps,     QKeySequence(chord),
                clipboard, after,   unreadable, unwritable};
        };
        // The frequency's range rule, and its reading of the leading number.
        typed("typed 876", "TXfrequency", "[]", "876", {"", "8", "87", "868"});
        typed("typed 875", "TXfrequency", "[]", "875", {"", "8", "87", "875"});
        typed("typed 855", "TXfrequency", "[]", "855", {"", "8", "85", "855"});
        typed("typed 850", "TXfrequency", "[]", "850", {"", "8", "85", "868"});
        typed("typed 868.5", "TXfrequency", "[]", "868.5", {"", "8", "86", "868", "868.", "868.5"});
        typed("typed abc", "TXfrequency", "[]", "abc", {"", "a", "ab", "868"});
        typed("last digit of 868 deleted", "TXfrequency", "868[]", "\b", {"868", "86"});
        // The id box's key filter and its own clipboard keys.
        typed("id non-digits", "id", "123[]", "/:aZ -.+", QStringList(9, QStringLiteral("123")));
        typed("id digits and backspace", "id", "1[]23", "09\b", {"123", "1023", "10923", "1023"});
        typed("id five characters at most", "id", "[]", "123456",
              {"", "1", "12", "123", "1234", "12345", "12345"});
        chord("Ctrl+C copies", "[123]45", "Ctrl+C", "old", "12345", "123");
        chord("Ctrl+X cuts and empties", "[123]45", "Ctrl+X", "old", "", "123");
        chord("Ctrl+V over a selection", "1[234]5", "Ctrl+V", "9", "195", "9");
        chord("Ctrl+Shift+V", "1[]", "Ctrl+Shift+V", "9x", "1", "9x");
        chord("Alt+Ctrl+X", "[123]45", "Alt+Ctrl+X", "old", "12345", "old");
        chord("Ctrl+V unreadable", "[123]45", "Ctrl+V", "9", "12345", "9", true);
        chord("Ctrl+X unwritable", "[123]45", "Ctrl+X", "old", "12345", "old", false, true);
        chord("Shift+Insert", "1[]", "Shift+Ins", "9", "1", "9");
        chord("Ctrl+Insert", "[123]45", "Ctrl+Ins", "old", "12345", "old");
    }

    void keys() {
        QFETCH(KeyCase, c);
        WindowFixture f;
        QVERIFY(openWindow(f));
        // The box's own clipboard keys would reach the system clipboard, never the fake one.
        const QString system = QStringLiteral("8");
        QGuiApplication::clipboard()->setText(system);
        f.recorders.content = c.clipboard;
        f.recorders.readable = !c.unreadable;
        f.recorders.writable = !c.unwritable;
        QLineEdit* edit = f.boxes(c.box)[0];
        setMarkedText(edit, c.initial);
        QCOMPARE(edit->text(), c.steps.at(0));
        for (int i = 0; i < c.typed.size(); ++i) {
            QTest::keyClick(edit, c.typed.at(i).toLatin1());
            QCOMPARE(edit->text(), c.steps.at(i + 1));
        }
        QTest::keySequence(edit, c.chord);
        QCOMPARE(edit->text(), c.steps.last());
        QCOMPARE(f.recorders.content, c.clipboardAfter);
        QCOMPARE(QGuiApplication::clipboard()->text(), system);
    }

    void tabMovesOn_data() {
        QTest::addColumn<QString>("box");
        for (const char* box :
             {"TXfrequency", "datarate", "Combo1", "id", "Combo2", "sbaudrate", "scheckbits"})
            QTest::newRow(box) << QString(box);
    }

    void tabMovesOn() { // and Shift+Tab
        QFETCH(QString, box);
        WindowFixture f;
        QVERIFY(openWindow(f));
        QWidget* control = f.widget(qPrintable(box));
        const QString text = f.boxTexts(box);
        for (const Qt::KeyboardModifier shift : {Qt::NoModifier, Qt::ShiftModifier}) {
            control->setFocus();
            QTRY_VERIFY(control->hasFocus());
            QTest::keyClick(QApplication::focusWidget(), shift ? Qt::Key_Backtab : Qt::Key_Tab,
                            shift);
            QVERIFY(!control->hasFocus());
        }
        QCOMPARE(f.boxTexts(box), text);
    }
};

QTEST_MAIN(tst_Editors)
#include "tst_editors.moc"

#include "protocol/frequency.h"
#include "support/window_fixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeySequence>
#include <QTest>

using zentrava::test::WindowFixture;

namespace {

// Generous: a loaded CI machine may stall far beyond the module's real answer time.
constexpr int kReplyWaitMs = 5000;
const QString kRefusal = QStringLiteral("Invalid argument,please check-outs!");
const QString kSuccess = QStringLiteral("Success!");
const QString kTimeOut = QStringLiteral("Time out!");
const QString kWaiting = QStringLiteral(".....");

struct Editor {
    const char* name;
    const char* box;
    const char* parityBox; // only the serial editor has a second box
    const char* read;
    const char* write;
};

constexpr Editor kEditors[] = {
    {"channel", "Combo1", nullptr, "Command1", "Command2"},
    {"power", "Combo2", nullptr, "Command3", "Command4"},
    {"frequency", "TXfrequency", nullptr, "readchannel", "writechannel"},
    {"id", "id", nullptr, "readid", "writeid"},
    {"datarate", "datarate", nullptr, "readdatarate", "writedatarate"},
    {"serial", "sbaudrate", "scheckbits", "readserial", "writeserial"},
};

const Editor& editorNamed(const QString& name) {
    for (const Editor& editor : kEditors) {
        if (name == QLatin1String(editor.name))
            return editor;
    }
    qFatal("no editor %s", qPrintable(name));
}

void setBoxText(const WindowFixture& f, const char* box, const QString& text) {
    if (auto* combo = f.form->findChild<QComboBox*>(QLatin1String(box)))
        combo->setEditText(text);
    else
        f.textBox(box)->setText(text);
}

QString boxText(const WindowFixture& f, const char* box) {
    if (auto* combo = f.form->findChild<QComboBox*>(QLatin1String(box)))
        return combo->currentText();
    return f.textBox(box)->text();
}

// The serial editor's two boxes travel as one text, "baud/parity".
void setEditorText(const WindowFixture& f, const Editor& editor, const QString& text) {
    const QStringList parts = text.split(QLatin1Char('/'));
    setBoxText(f, editor.box, parts.value(0));
    if (editor.parityBox)
        setBoxText(f, editor.parityBox, parts.value(1));
}

QString editorText(const WindowFixture& f, const Editor& editor) {
    const QString text = boxText(f, editor.box);
    return editor.parityBox ? text + QLatin1Char('/') + boxText(f, editor.parityBox) : text;
}

// Shown and active, so clicks and keys take the operator's path.
bool openWindow(WindowFixture& f) {
    f.form->show();
    f.form->activateWindow();
    return QTest::qWaitForWindowActive(f.form.get()) && f.openPort();
}

// "[123]45" selects the first three characters; "1|" puts the caret after the 1.
void setMarkedText(QLineEdit* box, QString marked) {
    box->setFocus();
    if (const int caret = int(marked.indexOf(QLatin1Char('|'))); caret >= 0) {
        box->setText(marked.remove(caret, 1));
        box->setCursorPosition(caret);
        return;
    }
    const int open = int(marked.indexOf(QLatin1Char('[')));
    const int close = int(marked.indexOf(QLatin1Char(']')));
    box->setText(marked.remove(close, 1).remove(open, 1));
    box->setSelection(open, close - open - 1);
}

// The read brings the value back into a box emptied after the write.
void writeThenRead(WindowFixture& f, const Editor& editor, const QString& written,
                   const QString& shown) {
    setEditorText(f, editor, written);
    f.click(editor.write);
    QTRY_VERIFY_WITH_TIMEOUT(f.status() != kWaiting, kReplyWaitMs);
    QCOMPARE(f.status(), kSuccess);
    QCOMPARE(editorText(f, editor), shown);
    setEditorText(f, editor, QString());
    f.click(editor.read);
    QTRY_VERIFY_WITH_TIMEOUT(f.status() != kWaiting, kReplyWaitMs);
    QCOMPARE(f.status(), kSuccess);
    QCOMPARE(editorText(f, editor), shown);
}

QString readBackFrequency(double mhz) {
    return zentrava::formatFrequency(zentrava::decodeFrequency(zentrava::encodeFrequency(mhz)));
}

enum ClipboardState { Usable, Unreadable, Unwritable };

} // namespace

class tst_Editors : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readFrames_data();
    void readFrames();
    void writeFrames_data();
    void writeFrames();
    void roundTrips_data();
    void roundTrips();
    void powerRoundTrips();
    void refusals_data();
    void refusals();
    void frequencyRangeRule_data();
    void frequencyRangeRule();
    void idKeyFilter_data();
    void idKeyFilter();
    void idClipboardKeys_data();
    void idClipboardKeys();
};

void tst_Editors::readFrames_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("shown");
    auto row = [](const char* editor, const char* frame, const char* shown) {
        QTest::newRow(editor) << QString::fromLatin1(editor) << QByteArray::fromHex(frame)
                              << QString::fromLatin1(shown);
    };
    row("channel", "afaf0000af8006020000950d0a", "0");
    row("power", "afaf0000af800c0200009b0d0a", "127");
    row("frequency", "afaf0000af800e04000000009f0d0a", "867.999973297119");
    row("id", "afaf0000af800a020000990d0a", "1");
    row("datarate", "afaf0000af8004020000930d0a", "9600");
    row("serial", "afaf0000af8002020000910d0a", "9600/n");
}

void tst_Editors::readFrames() {
    QFETCH(QString, editor);
    QFETCH(QByteArray, frame);
    QFETCH(QString, shown);
    WindowFixture f;
    QVERIFY(openWindow(f));
    const Editor& e = editorNamed(editor);
    setEditorText(f, e, QString());
    f.click(e.read);
    QCOMPARE(int(f.form->pendingCommand), int(frame.at(6)));
    QTRY_VERIFY_WITH_TIMEOUT(f.status() != kWaiting, kReplyWaitMs);
    QCOMPARE(f.wire(), frame);
    QCOMPARE(f.status(), kSuccess);
    QCOMPARE(editorText(f, e), shown);
    QCOMPARE(int(f.form->pendingCommand), 0);
}

void tst_Editors::writeFrames_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    auto row = [](const char* editor, const char* text, const char* frame) {
        QTest::addRow("%s %s", editor, text)
            << QString::fromLatin1(editor) << QString::fromLatin1(text)
            << QByteArray::fromHex(frame);
    };
    row("channel", "5", "afaf0000af8005020500990d0a");
    row("channel", "0", "afaf0000af8005020000940d0a");
    row("channel", "40", "afaf0000af8005022800bc0d0a");
    row("channel", "2.5", "afaf0000af8005020200960d0a");
    row("channel", "3.5", "afaf0000af8005020400980d0a");
    row("power", "127", "afaf0000af800b027f00190d0a");
    row("power", "1", "afaf0000af800b0201009b0d0a");
    row("power", "200", "afaf0000af800b02c800620d0a");
    row("datarate", "9600", "afaf0000af8003020400960d0a");
    row("datarate", "1200", "afaf0000af8003020100930d0a");
    row("datarate", "57600", "afaf0000af8003020700990d0a");
    row("datarate", "300", "afaf0000af8003020000920d0a");
    row("serial", "9600/n", "afaf0000af8001020400940d0a");
    row("serial", "115200/o", "afaf0000af80010208029a0d0a");
    row("serial", "1200/e", "afaf0000af8001020101920d0a");
    row("serial", "19200/o", "afaf0000af8001020502970d0a");
    row("serial", "300/n", "afaf0000af8001020000900d0a");
    row("id", "1", "afaf0000af8009020001990d0a");
    row("id", "12345", "afaf0000af8009023039010d0a");
    row("id", "65535", "afaf0000af800902ffff960d0a");
    row("id", "00258", "afaf0000af80090201029b0d0a");
    row("frequency", "868", "afaf0000af800d04380eeeeec00d0a");
    row("frequency", "868.5", "afaf0000af800d04380f33334b0d0a");
    row("frequency", "860", "afaf0000af800d04380aaaaa340d0a");
    row("frequency", "875", "afaf0000af800d04390aaaaa350d0a");
    row("frequency", "855", "afaf0000af800d0438080000de0d0a");
    row("frequency", "870", "afaf0000af800d0439080000df0d0a");
}

void tst_Editors::writeFrames() {
    QFETCH(QString, editor);
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    WindowFixture f;
    QVERIFY(openWindow(f));
    const Editor& e = editorNamed(editor);
    setEditorText(f, e, text);
    QCOMPARE(editorText(f, e), text);
    f.click(e.write);
    QCOMPARE(f.messages(), QStringList());
    QCOMPARE(int(f.form->pendingCommand), int(frame.at(6)));
    // The module has read the request once the transaction has an outcome.
    QTRY_VERIFY_WITH_TIMEOUT(f.status() != kWaiting, kReplyWaitMs);
    QCOMPARE(f.wire(), frame);
}

void tst_Editors::roundTrips_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("shown");
    auto row = [](const char* editor, const QString& written, const QString& shown) {
        QTest::addRow("%s %s", editor, qPrintable(written))
            << QString::fromLatin1(editor) << written << shown;
    };
    for (int channel = 0; channel <= 32; ++channel)
        row("channel", QString::number(channel), QString::number(channel));
    for (const char* rate : {"1200", "2400", "4800", "9600", "19200", "38400", "57600"})
        row("datarate", QLatin1String(rate), QLatin1String(rate));
    for (const char* baud : {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"}) {
        for (const char* parity : {"n", "e", "o"}) {
            const QString serial = QLatin1String(baud) + QLatin1Char('/') + QLatin1String(parity);
            row("serial", serial, serial);
        }
    }
    for (const char* id : {"1", "4660", "12345", "65535"})
        row("id", QLatin1String(id), QLatin1String(id));
    row("id", QStringLiteral("00258"), QStringLiteral("258"));
    for (double mhz : {855.0, 860.0, 861.2345, 868.0, 868.5, 870.0, 875.0})
        row("frequency", QString::number(mhz, 'g', 10), readBackFrequency(mhz));
}

void tst_Editors::roundTrips() {
    QFETCH(QString, editor);
    QFETCH(QString, written);
    QFETCH(QString, shown);
    WindowFixture f;
    QVERIFY(openWindow(f));
    writeThenRead(f, editorNamed(editor), written, shown);
}

void tst_Editors::powerRoundTrips() {
    WindowFixture f;
    QVERIFY(openWindow(f));
    for (int level = 1; level <= 127; ++level) {
        const QString text = QString::number(level);
        writeThenRead(f, editorNamed(QStringLiteral("power")), text, text);
        if (QTest::currentTestFailed()) {
            qInfo("at power level %d", level);
            return;
        }
        QCOMPARE(int(f.moduleSettings().power), level);
    }
}

void tst_Editors::refusals_data() {
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pasted"); // through the id box's paste key, after `text`
    QTest::addColumn<bool>("locks");
    QTest::addColumn<int>("pending");
    auto row = [](const char* name, const char* editor, const char* text, bool locks,
                  int pending = 0, const char* pasted = "") {
        QTest::newRow(name) << QString::fromLatin1(editor) << QString::fromLatin1(text)
                            << QString::fromLatin1(pasted) << locks << pending;
    };
    // Only an empty text is refused before the lock.
    row("channel empty", "channel", "", false);
    row("power empty", "power", "", false);
    row("datarate empty", "datarate", "", false);
    row("serial baud empty", "serial", "/n", false);
    row("serial parity empty", "serial", "9600/", false);
    row("channel 300", "channel", "300", true);
    row("channel -1", "channel", "-1", true);
    row("channel letters", "channel", "abc", true);
    row("channel blank", "channel", " ", true);
    row("channel hex", "channel", "0x10", true);
    row("channel inf", "channel", "inf", true);
    row("power 255.5 rounds to 256", "power", "255.5", true);
    row("id 00000", "id", "00000", true, 9);
    row("id 65536", "id", "65536", true, 9);
    row("id 99999", "id", "99999", true, 9);
    row("id empty", "id", "", true, 9);
    row("id pasted 9x", "id", "1", true, 9, "9x");
    row("id pasted blank", "id", "12", true, 9, " ");
    row("id pasted sign", "id", "", true, 9, "+12");
    row("id pasted fraction", "id", "1", true, 9, "2.0");
    row("frequency 86", "frequency", "86", true);
    row("frequency 8", "frequency", "8", true);
    row("frequency empty", "frequency", "", true);
    row("frequency blanks inside", "frequency", "8 6 8", true);
    row("frequency trailing letters", "frequency", "870abc", true);
}

void tst_Editors::refusals() {
    QFETCH(QString, editor);
    QFETCH(QString, text);
    QFETCH(QString, pasted);
    QFETCH(bool, locks);
    QFETCH(int, pending);
    WindowFixture f;
    QVERIFY(openWindow(f));
    const Editor& e = editorNamed(editor);
    setEditorText(f, e, text);
    if (!pasted.isEmpty()) {
        QLineEdit* box = f.textBox(e.box);
        setMarkedText(box, text + QLatin1Char('|'));
        f.recorders.clipboard.content = pasted;
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        text += pasted;
    }
    QCOMPARE(editorText(f, e), text);
    f.click(e.write);
    QCOMPARE(f.messages(), QStringList{kRefusal});
    QCOMPARE(f.status(), kWaiting);
    QCOMPARE(f.enabledCommandButtons(), locks ? 0 : 12);
    QCOMPARE(int(f.form->pendingCommand), pending);
    QTRY_COMPARE_WITH_TIMEOUT(f.status(), kTimeOut, kReplyWaitMs);
    QCOMPARE(f.enabledCommandButtons(), 12);
    QCOMPARE(f.wire(), QByteArray());
}

void tst_Editors::frequencyRangeRule_data() {
    QTest::addColumn<QString>("initial"); // set as a whole, as a decoder does
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("steps"); // the text after the set, then after each key
    auto row = [](const char* name, const char* initial, const char* keys,
                  const QStringList& steps) {
        QTest::newRow(name) << QString::fromLatin1(initial) << QString::fromLatin1(keys) << steps;
    };
    row("typed 900", "", "900", {"", "9", "90", "868"});
    row("typed 876", "", "876", {"", "8", "87", "868"});
    row("typed 875", "", "875", {"", "8", "87", "875"});
    row("typed 855", "", "855", {"", "8", "85", "855"});
    row("typed 850", "", "850", {"", "8", "85", "868"});
    row("typed 860", "", "860", {"", "8", "86", "860"});
    row("typed 868.5", "", "868.5", {"", "8", "86", "868", "868.", "868.5"});
    row("typed 854.9", "", "854.9", {"", "8", "85", "868", "868.", "868.9"});
    row("typed 8e3", "", "8e3", {"", "8", "8e", "868"});
    row("typed 870abc", "", "870abc", {"", "8", "87", "870", "870a", "870ab", "870abc"});
    row("typed abc", "", "abc", {"", "a", "ab", "868"});
    row("last digit of 868 deleted", "868", "\b", {"868", "86"});
    row("set 8 6 8", "8 6 8", "", {"8 6 8"});
    row("set leading blank", " 870", "", {" 870"});
    row("set 8e3", "8e3", "", {"868"});
    row("set 1e3", "1e3", "", {"868"});
    row("set 870abc", "870abc", "", {"870abc"});
    row("set abc", "abc", "", {"868"});
    row("set -870", "-870", "", {"868"});
    row("set -1", "-1", "", {"-1"});
    row("set 99", "99", "", {"99"});
}

void tst_Editors::frequencyRangeRule() {
    QFETCH(QString, initial);
    QFETCH(QString, keys);
    QFETCH(QStringList, steps);
    WindowFixture f;
    QVERIFY(openWindow(f));
    QLineEdit* box = f.textBox("TXfrequency");
    setMarkedText(box, initial + QLatin1Char('|'));
    QCOMPARE(box->text(), steps.at(0));
    for (int i = 0; i < keys.size(); ++i) {
        QTest::keyClick(box, keys.at(i).toLatin1());
        QCOMPARE(box->text(), steps.at(i + 1));
    }
}

void tst_Editors::idKeyFilter_data() {
    QTest::addColumn<QString>("initial");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    auto row = [](const char* name, const char* initial, const char* keys, const char* shown) {
        QTest::newRow(name) << QString::fromLatin1(initial) << QString::fromLatin1(keys)
                            << QString::fromLatin1(shown);
    };
    row("letters", "123|", "aZ", "123");
    row("minus", "123|", "-", "123");
    row("full stop", "123|", ".", "123");
    row("space", "123|", " ", "123");
    row("plus", "123|", "+", "123");
    row("digit 7", "123|", "7", "1237");
    row("digit 7 mid-text", "1|23", "7", "1723");
    row("backspace", "123|", "\b", "12");
    row("five characters at most", "|", "123456", "12345");
}

void tst_Editors::idKeyFilter() {
    QFETCH(QString, initial);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    WindowFixture f;
    QVERIFY(openWindow(f));
    QLineEdit* box = f.textBox("id");
    setMarkedText(box, initial);
    for (QChar key : keys)
        QTest::keyClick(box, key.toLatin1());
    QCOMPARE(box->text(), shown);
}

void tst_Editors::idClipboardKeys_data() {
    QTest::addColumn<QString>("initial");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("clipboardAfter");
    auto row = [](const char* name, const char* initial, Qt::Key key,
                  Qt::KeyboardModifiers modifiers, const char* clipboard, ClipboardState state,
                  const char* shown, const char* clipboardAfter) {
        QTest::newRow(name) << QString::fromLatin1(initial) << key << modifiers
                            << QString::fromLatin1(clipboard) << int(state)
                            << QString::fromLatin1(shown) << QString::fromLatin1(clipboardAfter);
    };
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    row("Ctrl+C copies", "[123]45", Qt::Key_C, ctrl, "old", Usable, "12345", "123");
    row("Ctrl+X cuts and empties", "[123]45", Qt::Key_X, ctrl, "old", Usable, "", "123");
    row("Ctrl+X nothing selected", "123|45", Qt::Key_X, ctrl, "old", Usable, "", "");
    row("Ctrl+V at the caret", "1|", Qt::Key_V, ctrl, "9x", Usable, "19x", "9x");
    row("Ctrl+V over a selection", "1[234]5", Qt::Key_V, ctrl, "9", Usable, "195", "9");
    row("Ctrl+V empty clipboard", "[123]45", Qt::Key_V, ctrl, "", Usable, "45", "");
    row("Ctrl+Shift+V", "1|", Qt::Key_V, ctrl | Qt::ShiftModifier, "9x", Usable, "1", "9x");
    row("Alt+Ctrl+V", "1|", Qt::Key_V, ctrl | Qt::AltModifier, "9x", Usable, "1", "9x");
    row("Ctrl+Shift+C", "[123]45", Qt::Key_C, ctrl | Qt::ShiftModifier, "old", Usable, "12345",
        "old");
    row("Alt+Ctrl+X", "[123]45", Qt::Key_X, ctrl | Qt::AltModifier, "old", Usable, "12345", "old");
    row("Ctrl+V unreadable", "[123]45", Qt::Key_V, ctrl, "9", Unreadable, "12345", "9");
    row("Ctrl+X unwritable", "[123]45", Qt::Key_X, ctrl, "old", Unwritable, "12345", "old");
    row("Shift+Insert", "1|", Qt::Key_Insert, Qt::ShiftModifier, "9", Usable, "1", "9");
    row("Ctrl+Insert", "[123]45", Qt::Key_Insert, ctrl, "old", Usable, "12345", "old");
}

void tst_Editors::idClipboardKeys() {
    QFETCH(QString, initial);
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(QString, clipboard);
    QFETCH(int, state);
    QFETCH(QString, shown);
    QFETCH(QString, clipboardAfter);
    WindowFixture f;
    QVERIFY(openWindow(f));
    // The box's own clipboard keys would reach the system clipboard, never the fake one.
    const QString system = QStringLiteral("8");
    QGuiApplication::clipboard()->setText(system);
    QCOMPARE(QGuiApplication::clipboard()->text(), system);
    f.recorders.clipboard.content = clipboard;
    f.recorders.clipboard.readable = state != Unreadable;
    f.recorders.clipboard.writable = state != Unwritable;
    QLineEdit* box = f.textBox("id");
    setMarkedText(box, initial);
    QTest::keyClick(box, key, modifiers);
    QCOMPARE(box->text(), shown);
    QCOMPARE(f.recorders.clipboard.content, clipboardAfter);
    QCOMPARE(QGuiApplication::clipboard()->text(), system);
}

QTEST_MAIN(tst_Editors)
#include "tst_editors.moc"

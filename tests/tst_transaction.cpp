#include "serial/serial_errors.h"
#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace zentrava;
using namespace zentrava::test;

namespace {

constexpr int kWaitMs = 3000;
// Well past the 800 ms reply time-out.
constexpr int kTimeOutWaitMs = 2000;
const QString kSentinel = QStringLiteral("?");
const QString kOk = QStringLiteral("Success!");
const QString kFail = QStringLiteral("Fail!");
const QString kTimeOut = QStringLiteral("Time out!");
const QString kWaiting = QStringLiteral(".....");
constexpr const char* kSerial = "sbaudrate+scheckbits";

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

QString hexText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

const QByteArray kReadChannel = hex("afaf0000af8006020000950d0a");
const QByteArray kChannel5Reply = hex("afaf0000af00060205001a0d0a");
const QByteArray kChannel17Reply = hex("afaf0000af0006021100260d0a");
const QByteArray kFrequencyReply = hex("afaf0000af000e043906eeef3b0d0a");

// The module's value behind `controls`, given as the payload bytes it answers with.
void presetModule(emu::ModuleSettings& s, const QString& controls, const QByteArray& p) {
    const auto at = [&p](int i) { return std::uint8_t(p.at(i)); };
    if (controls == QLatin1String("Combo1"))
        s.channel = at(0);
    else if (controls == QLatin1String("Combo2"))
        s.power = at(0);
    else if (controls == QLatin1String("datarate"))
        s.dataRateCode = at(0);
    else if (controls == QLatin1String("id"))
        s.id = std::uint16_t(at(0) << 8 | at(1));
    else if (controls == QLatin1String("TXfrequency"))
        s.frequency = {at(0), at(1), at(2), at(3)};
    else {
        s.baudCode = at(0);
        s.parityCode = at(1);
    }
}

} // namespace

class TestTransaction : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->openPort());
    }
    void cleanup() { w.reset(); }
    void everyCode_data();
    void everyCode();
    void moduleReplies_data();
    void moduleReplies();
    void replyChecks_data();
    void replyChecks();
    void timeOutKeepsTransactionForLateReply();
    void delayedReplyReplacesTimeOut();
    void trickledReplyHandledOnceWhole();
    void receiveWithoutReply_data();
    void receiveWithoutReply();
    void portClosedWhileWaitingKeepsButtonsOff();
    void replyAfterPortClosedKeepsButtonsOff();
    void failedWriteClosesPort_data();
    void failedWriteClosesPort();
    void writeToVanishedDevice();

private:
    QString shown(const QString& controls) const;
    QList<QLineEdit*> boxes(const QString& controls) const;
    void exchange(const char* button, const QString& controls, const QByteArray& preset);
    ScriptedLink* useScriptedLink();
    QTimer* timer2() const { return w->form->findChild<QTimer*>(QStringLiteral("Timer2")); }

    std::unique_ptr<WindowFixture> w;
};

// The text boxes behind "name+name"; the combo boxes are all editable.
QList<QLineEdit*> TestTransaction::boxes(const QString& controls) const {
    QList<QLineEdit*> found;
    for (const QString& name : controls.split(QLatin1Char('+'))) {
        QWidget* control = w->form->findChild<QWidget*>(name);
        auto* combo = qobject_cast<QComboBox*>(control);
        found << (combo ? combo->lineEdit() : qobject_cast<QLineEdit*>(control));
    }
    return found;
}

QString TestTransaction::shown(const QString& controls) const {
    QStringList texts;
    for (const QLineEdit* box : boxes(controls))
        texts << box->text();
    return texts.join(QLatin1Char('/'));
}

// Marks the controls "?" once the request has reached the module, so only its reply can
// change them; a write's own box text cannot pass for a decoded reply.
void TestTransaction::exchange(const char* button, const QString& controls,
                               const QByteArray& preset) {
    presetModule(w->moduleSettings(), controls, preset);
    connect(w->module.get(), &emu::PtyHost::requestReceived, w->form.get(), [this, controls] {
        for (QLineEdit* box : boxes(controls))
            box->setText(kSentinel);
    });
    w->click(button);
}

ScriptedLink* TestTransaction::useScriptedLink() {
    auto link = std::make_unique<ScriptedLink>();
    link->openablePorts = {1};
    ScriptedLink* raw = link.get();
    w->form = std::make_unique<Form1>(PortMap{}, w->recorders.services(), std::move(link));
    return raw;
}

void TestTransaction::everyCode_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("preset");
    QTest::addColumn<QString>("controls");
    QTest::addColumn<QString>("text");
    struct Row {
        const char *button, *frame, *preset, *controls, *text;
    };
    // Write rows preset another value: the module answers with what it was sent.
    constexpr Row rows[] = {
        {"readchannel", "afaf0000af800e04000000009f0d0a", "3906eeef", "TXfrequency",
         "868.000001907349"},
        {"writechannel", "afaf0000af800d04380eeeeec00d0a", "39000000", "TXfrequency",
         "867.999973297119"},
        {"readid", "afaf0000af800a020000990d0a", "002a", "id", "42"},
        {"writeid", "afaf0000af8009021234de0d0a", "0001", "id", "4660"},
        {"Command1", "afaf0000af8006020000950d0a", "11", "Combo1", "17"},
        {"Command2", "afaf0000af8005020500990d0a", "11", "Combo1", "5"},
        {"readdatarate", "afaf0000af8004020000930d0a", "02", "datarate", "2400"},
        {"writedatarate", "afaf0000af8003020400960d0a", "01", "datarate", "9600"},
        {"readserial", "afaf0000af8002020000910d0a", "0602", kSerial, "38400/o"},
        {"writeserial", "afaf0000af8001020400940d0a", "0101", kSerial, "9600/n"},
        {"Command3", "afaf0000af800c0200009b0d0a", "05", "Combo2", "5"},
        {"Command4", "afaf0000af800b027f00190d0a", "01", "Combo2", "127"},
    };
    for (const Row& r : rows)
        QTest::newRow(r.button) << QString(r.button) << hex(r.frame) << hex(r.preset)
                                << QString(r.controls) << QString(r.text);
}

void TestTransaction::everyCode() {
    QFETCH(QString, button);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, preset);
    QFETCH(QString, controls);
    QFETCH(QString, text);
    // "00000" is refused; channel 0 would hide a payload that never reaches the frame.
    w->textBox("id")->setText(QStringLiteral("4660"));
    w->combo("Combo1")->setEditText(QStringLiteral("5"));
    exchange(qPrintable(button), controls, preset);
    QCOMPARE(w->status(), kWaiting);
    QCOMPARE(w->enabledCommandButtons(), 0);
    QCOMPARE(w->form->pendingCommand, qint16(frame.at(6)));
    QCOMPARE(w->form->serialLink().rThreshold(), int(frame.size()));
    QCOMPARE(w->form->replyBuffer, QByteArray(frame.size() + 1, '\0'));
    QTRY_COMPARE_WITH_TIMEOUT(w->wire(), frame, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kOk, kWaitMs);
    QCOMPARE(shown(controls), text);
    QCOMPARE(w->form->pendingCommand, qint16(0));
    QCOMPARE(w->form->serialLink().rThreshold(), 0);
    QCOMPARE(w->enabledCommandButtons(), 12);
    QVERIFY(!timer2()->isActive());
    QVERIFY(w->widget<QLabel>("panel2")->toolTip().contains(hexText(frame)));
}

void TestTransaction::moduleReplies_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("preset");
    QTest::addColumn<QString>("controls");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    struct Row {
        const char *name, *button;
        emu::FaultKind fault;
        const char *preset, *controls, *text, *status;
    };
    using F = emu::FaultKind;
    constexpr const char* ok = "Success!";
    constexpr const char* fail = "Fail!";
    // "?" is what the control held before the reply: nothing was decoded.
    constexpr Row rows[] = {
        {"serial 04 01", "readserial", F::None, "0401", kSerial, "9600/e", ok},
        {"serial 08 00", "readserial", F::None, "0800", kSerial, "115200/n", ok},
        {"serial baud 0", "readserial", F::None, "0000", kSerial, "?/?", fail},
        {"serial baud 9", "readserial", F::None, "0900", kSerial, "?/?", fail},
        {"serial parity 3", "readserial", F::None, "0403", kSerial, "?/?", fail},
        {"data rate 01", "readdatarate", F::None, "01", "datarate", "1200", ok},
        {"data rate 07", "readdatarate", F::None, "07", "datarate", "57600", ok},
        {"data rate 0", "readdatarate", F::None, "00", "datarate", "?", fail},
        {"data rate 8", "readdatarate", F::None, "08", "datarate", "?", fail},
        {"channel 00", "Command1", F::None, "00", "Combo1", "0", ok},
        {"channel 20", "Command1", F::None, "20", "Combo1", "32", ok},
        {"channel 33", "Command1", F::None, "21", "Combo1", "33", ok},
        {"power 01", "Command3", F::None, "01", "Combo2", "1", ok},
        {"power 7f", "Command3", F::None, "7f", "Combo2", "127", ok},
        {"power 0", "Command3", F::None, "00", "Combo2", "0", ok},
        {"power 128", "Command3", F::None, "80", "Combo2", "128", ok},
        {"id 00 01", "readid", F::None, "0001", "id", "1", ok},
        {"id 80 00", "readid", F::None, "8000", "id", "32768", ok},
        {"id ff ff", "readid", F::None, "ffff", "id", "65535", ok},
        {"id 12 34", "readid", F::None, "1234", "id", "4660", ok},
        {"frequency 39 00 00 00", "readchannel", F::None, "39000000", "TXfrequency", "855", ok},
        {"frequency 39 06 ee ef", "readchannel", F::None, "3906eeef", "TXfrequency",
         "868.000001907349", ok},
        {"frequency 38 0e ee ee", "readchannel", F::None, "380eeeee", "TXfrequency",
         "867.999973297119", ok},
        {"frequency 3a 00 00 00", "readchannel", F::None, "3a000000", "TXfrequency", "870", ok},
        {"frequency 39 08 00 00", "readchannel", F::None, "39080000", "TXfrequency", "870", ok},
        {"frequency 38 0f 33 33", "readchannel", F::None, "380f3333", "TXfrequency",
         "868.499994277954", ok},
        // Out of band: the box's range rule must not get to claim 868 for them.
        {"frequency 39 0d dd de", "readchannel", F::None, "390dddde", "TXfrequency", "?", fail},
        {"frequency 00 00 00 00", "readchannel", F::None, "00000000", "TXfrequency", "?", fail},
        {"frequency ff ff ff ff", "readchannel", F::None, "ffffffff", "TXfrequency", "?", fail},
        {"wrong code", "Command2", F::WrongCode, "07", "Combo1", "?", fail},
        {"bad header", "Command1", F::BadHeader, "07", "Combo1", "?", fail},
        {"bad length", "readid", F::BadLength, "0707", "id", "?", fail},
        {"bad length, 15 bytes", "readchannel", F::BadLength, "39000000", "TXfrequency", "?", fail},
        {"bad terminator", "Command3", F::BadTerminator, "07", "Combo2", "?", fail},
        {"long reply", "Command1", F::LongReply, "07", "Combo1", "?", fail},
        {"long reply, 15 bytes", "readchannel", F::LongReply, "39000000", "TXfrequency", "?", fail},
        {"noise first", "readdatarate", F::NoiseFirst, "07", "datarate", "?", fail},
        {"short reply", "Command1", F::ShortReply, "07", "Combo1", "?", "Time out!"},
    };
    for (const Row& r : rows)
        QTest::newRow(r.name) << QString(r.button) << int(r.fault) << hex(r.preset)
                              << QString(r.controls) << QString(r.text) << QString(r.status);
}

void TestTransaction::moduleReplies() {
    QFETCH(QString, button);
    QFETCH(int, fault);
    QFETCH(QByteArray, preset);
    QFETCH(QString, controls);
    QFETCH(QString, text);
    QFETCH(QString, status);
    w->module->model().queueFault({emu::FaultKind(fault), 0});
    exchange(qPrintable(button), controls, preset);
    const qint16 code = w->form->pendingCommand;
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), status, kWaitMs);
    QCOMPARE(shown(controls), text);
    QCOMPARE(w->form->pendingCommand, status == kOk ? qint16(0) : code);
    QCOMPARE(w->enabledCommandButtons(), 12);
}

void TestTransaction::replyChecks_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("text");
    const auto add = [](const char* name, const QString& button, const QByteArray& reply,
                        const QString& status, const QString& text) {
        QTest::newRow(name) << button << reply << status << text;
    };
    for (int position : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12}) {
        QByteArray reply = kChannel5Reply;
        reply[position] = char(reply.at(position) ^ 0x80);
        add(qPrintable(QStringLiteral("position %1 wrong").arg(position)), "Command1", reply, kFail,
            "0");
    }
    QByteArray anyCheck = kChannel5Reply;
    for (char check : {'\x00', '\xff'}) {
        anyCheck[10] = check;
        add(check ? "check byte ff" : "check byte 00", "Command1", anyCheck, kOk, "5");
    }
    add("one byte more fits", "Command1", kChannel5Reply + hex("ee"), kOk, "5");
    add("two bytes more", "Command1", kChannel5Reply + hex("eeee"), kFail, "0");
    add("two replies back to back", "Command1", kChannel5Reply + kChannel5Reply, kFail, "0");
    add("15 bytes, terminator at 13 14", "readchannel", kFrequencyReply, kOk, "868.000001907349");
    add("15 bytes, terminator at 11 12", "readchannel", hex("afaf0000af000e043906ee0d0a0000"),
        kFail, "868");
    add("15 bytes, two bytes more", "readchannel", kFrequencyReply + hex("eeee"), kFail, "868");
}

void TestTransaction::replyChecks() {
    QFETCH(QString, button);
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);
    QFETCH(QString, text);
    w->module->model().queueFault({emu::FaultKind::Silent});
    w->click(qPrintable(button));
    const qint16 code = w->form->pendingCommand;
    QTRY_VERIFY_WITH_TIMEOUT(!w->wire().isEmpty(), kWaitMs);
    // One write, so any surplus is already waiting when the threshold is met.
    w->module->writeRaw(reply);
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), status, kWaitMs);
    QCOMPARE(shown(code == 6 ? "Combo1" : "TXfrequency"), text);
    QCOMPARE(w->form->pendingCommand, status == kOk ? qint16(0) : code);
    QCOMPARE(w->enabledCommandButtons(), 12);
}

void TestTransaction::timeOutKeepsTransactionForLateReply() {
    w->module->model().queueFault({emu::FaultKind::Silent});
    w->click("Command1");
    QCOMPARE(w->status(), kWaiting);
    QCOMPARE(w->enabledCommandButtons(), 0);
    bool unlockedWhileWaiting = false;
    const auto timedOut = [&] {
        unlockedWhileWaiting |= w->status() == kWaiting && w->enabledCommandButtons() != 0;
        return w->status() == kTimeOut;
    };
    QTRY_VERIFY_WITH_TIMEOUT(timedOut(), kTimeOutWaitMs);
    QVERIFY(!unlockedWhileWaiting);
    QCOMPARE(w->wire(), kReadChannel);
    QCOMPARE(w->enabledCommandButtons(), 12);
    QVERIFY(!timer2()->isActive());
    QCOMPARE(w->form->pendingCommand, 6);
    QCOMPARE(w->form->serialLink().rThreshold(), 13);

    w->module->writeRaw(kChannel17Reply);
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kOk, kWaitMs);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("17"));
    QCOMPARE(w->form->pendingCommand, 0);
    QCOMPARE(w->form->serialLink().rThreshold(), 0);
}

void TestTransaction::delayedReplyReplacesTimeOut() {
    w->moduleSettings().channel = 9;
    w->module->model().queueFault({emu::FaultKind::Delay, 1000});
    w->click("Command1");
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kTimeOut, kTimeOutWaitMs);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("0"));
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kOk, kWaitMs);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("9"));
    QCOMPARE(w->form->pendingCommand, 0);
}

void TestTransaction::trickledReplyHandledOnceWhole() {
    w->moduleSettings().channel = 21;
    w->module->model().queueFault({emu::FaultKind::Trickle, 5});
    QSignalSpy receiveEvents(&w->form->serialLink(), &SerialLink::OnComm);
    QSignalSpy replies(w->module.get(), &emu::PtyHost::replySent);
    w->click("Command1");
    QTRY_COMPARE_WITH_TIMEOUT(replies.count(), 1, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kOk, kWaitMs);
    QCOMPARE(receiveEvents.count(), 1);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("21"));
    const QString tip = w->widget<QLabel>("panel2")->toolTip();
    QVERIFY2(tip.contains(hexText(kReadChannel)), qPrintable(tip));
    QVERIFY2(tip.contains(hexText(hex("afaf0000af00060215002a0d0a"))), qPrintable(tip));
}

void TestTransaction::receiveWithoutReply_data() {
    QTest::addColumn<bool>("pending");
    QTest::addColumn<QString>("status");
    QTest::newRow("zero bytes waiting") << true << kFail;
    QTest::newRow("nothing pending") << false << QString();
}

// A pseudo-terminal never raises a receive event with nothing waiting.
void TestTransaction::receiveWithoutReply() {
    QFETCH(bool, pending);
    QFETCH(QString, status);
    ScriptedLink* link = useScriptedLink();
    QVERIFY(w->openPort());
    if (pending)
        w->click("Command1");
    const qint16 code = w->form->pendingCommand;
    const QString before = w->status();
    link->raiseReceive();
    QCOMPARE(w->status(), status.isNull() ? before : status);
    QCOMPARE(w->form->pendingCommand, code);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("0"));
    QCOMPARE(w->enabledCommandButtons(), 12);
    QVERIFY(!timer2()->isActive());
}

void TestTransaction::portClosedWhileWaitingKeepsButtonsOff() {
    w->module->model().queueFault({emu::FaultKind::Silent});
    w->click("Command1");
    QCOMPARE(w->status(), kWaiting);
    w->click("comopen");
    QVERIFY(!w->form->serialLink().portOpen());
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kTimeOut, kTimeOutWaitMs);
    QCOMPARE(w->enabledCommandButtons(), 0);
    QVERIFY(w->messages().isEmpty());
}

// A closed pseudo-terminal delivers nothing, so the late reply comes from a scripted link.
void TestTransaction::replyAfterPortClosedKeepsButtonsOff() {
    ScriptedLink* link = useScriptedLink();
    QVERIFY(w->openPort());
    w->click("Command1");
    w->click("comopen");
    QVERIFY(!link->portOpen());
    link->waiting = kChannel17Reply;
    link->raiseReceive();
    QCOMPARE(w->status(), kOk);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("17"));
    QCOMPARE(w->enabledCommandButtons(), 0);
}

void TestTransaction::failedWriteClosesPort_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("timerRunning");
    for (const char* button : kCommandButtons)
        QTest::newRow(button) << QString(button) << false;
    QTest::newRow("Command1 after a refused write") << QStringLiteral("Command1") << true;
}

void TestTransaction::failedWriteClosesPort() {
    QFETCH(QString, button);
    QFETCH(bool, timerRunning);
    ScriptedLink* link = useScriptedLink();
    QVERIFY(w->openPort());
    w->textBox("id")->setText(QStringLiteral("4660"));
    if (timerRunning) {
        // A refused write leaves the reply timer running with the buttons free.
        w->combo("datarate")->setEditText(QString());
        w->click("writedatarate");
        QVERIFY(timer2()->isActive());
        w->messages().clear();
    }
    link->failures[QStringLiteral("output")] = serial_error::kDeviceError;
    w->click(qPrintable(button));
    QVERIFY(!link->portOpen());
    QCOMPARE(w->button("comopen")->text(), QStringLiteral("Open"));
    QCOMPARE(w->form->panelText(1), QStringLiteral("Closed 9600,n,8,1"));
    QVERIFY(!timer2()->isActive());
    QVERIFY(timerRunning || w->status() != kWaiting);
    QCOMPARE(w->messages(), QStringList{QStringLiteral("Serial device error\uFF01")});
    QCOMPARE(w->enabledCommandButtons(), 0);
    link->failures.clear();
    QVERIFY(w->openPort());
    QCOMPARE(w->enabledCommandButtons(), 12);
}

void TestTransaction::writeToVanishedDevice() {
    w->module->vanish();
    w->click("Command1");
    QTRY_COMPARE_WITH_TIMEOUT(w->button("comopen")->text(), QStringLiteral("Open"), kWaitMs);
    QCoreApplication::processEvents(); // a queued loss report must not add a second message
    QCOMPARE(w->messages(), QStringList{QStringLiteral("Serial device error\uFF01")});
    QVERIFY(!timer2()->isActive());
    QVERIFY(w->status() != kWaiting);
    QCOMPARE(w->enabledCommandButtons(), 0);
}

QTEST_MAIN(TestTransaction)
#include "tst_transaction.moc"

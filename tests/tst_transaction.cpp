#include "core/serial_errors.h"
#include "support/scripted_link.h"
#include "support/window_fixture.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace zentrava;
using namespace zentrava::test;

namespace {

constexpr int kWaitMs = 3000;
// Well past the 800 ms reply time-out.
constexpr int kTimeOutWaitMs = 2000;
const QString kOk = QStringLiteral("Success!");
const QString kFail = QStringLiteral("Fail!");
const QString kTimeOut = QStringLiteral("Time out!");
const QString kWaiting = QStringLiteral(".....");
const QString kDeviceError = QStringLiteral("Serial device error\uFF01");
constexpr const char* kSerial = "sbaudrate/scheckbits";

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The check byte is not checked, so 00 stands in for it.
QByteArray replyTo(int code, const char* payload) {
    const QByteArray p = hex(payload);
    return hex("afaf0000af00") + char(code) + char(p.size()) + p + hex("000d0a");
}

// Each button's request with the controls its reply fills and their text from the module's
// start-up values; a write shows what it sent.
struct Code {
    const char *button, *frame, *controls, *shown;
};
constexpr Code kCodes[] = {
    {"readchannel", "afaf0000af800e04000000009f0d0a", "TXfrequency", "867.999973297119"},
    {"writechannel", "afaf0000af800d04380eeeeec00d0a", "TXfrequency", "867.999973297119"},
    {"readid", "afaf0000af800a020000990d0a", "id", "1"},
    {"writeid", "afaf0000af8009021234de0d0a", "id", "4660"},
    {"Command1", "afaf0000af8006020000950d0a", "Combo1", "0"},
    {"Command2", "afaf0000af8005020500990d0a", "Combo1", "5"},
    {"readdatarate", "afaf0000af8004020000930d0a", "datarate", "9600"},
    {"writedatarate", "afaf0000af8003020400960d0a", "datarate", "9600"},
    {"readserial", "afaf0000af8002020000910d0a", kSerial, "9600/n"},
    {"writeserial", "afaf0000af8001020400940d0a", kSerial, "9600/n"},
    {"Command3", "afaf0000af800c0200009b0d0a", "Combo2", "127"},
    {"Command4", "afaf0000af800b027f00190d0a", "Combo2", "127"},
};

const Code& codeFor(const QString& button) {
    return *std::find_if(std::begin(kCodes), std::end(kCodes),
                         [&](const Code& code) { return button == QLatin1String(code.button); });
}

const QByteArray kChannel5Reply = hex("afaf0000af00060205001a0d0a");

} // namespace

class TestTransaction : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        w = std::make_unique<WindowFixture>();
        QVERIFY(w->openPort());
    }
    void cleanup() { w.reset(); }
    void exchange_data();
    void exchange();
    void receiveEvents_data();
    void receiveEvents();
    void failedWriteClosesPort_data();
    void failedWriteClosesPort();
    void writeToVanishedDevice();
    void leftoverSpoilsOneExchangeAtMost_data();
    void leftoverSpoilsOneExchangeAtMost();

private:
    ScriptedLink* useScriptedLink();
    QTimer* timer2() const { return w->form->findChild<QTimer*>(QStringLiteral("Timer2")); }

    std::unique_ptr<WindowFixture> w;
};

ScriptedLink* TestTransaction::useScriptedLink() {
    auto link = std::make_unique<ScriptedLink>();
    link->openablePorts = {1};
    ScriptedLink* raw = link.get();
    w->form = std::make_unique<Form1>(PortMap{}, w->recorders.services(), std::move(link));
    return raw;
}

void TestTransaction::exchange_data() {
    using F = emu::FaultKind;
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QByteArray>("reply"); // written by the test once the request is in
    QTest::addColumn<bool>("late");        // and only after "Time out!"
    QTest::addColumn<QString>("text");
    // "?" is what the control held before the reply: nothing was decoded, "Fail!".
    const auto add = [](const QString& name, const char* button, const QByteArray& reply,
                        const char* text, bool late = false) {
        QTest::newRow(qPrintable(name))
            << QString(button) << int(reply.isEmpty() ? F::None : F::Silent) << reply << late
            << QString(text);
    };
    for (const Code& c : kCodes)
        add(c.button, c.button, {}, c.shown);
    QTest::newRow("trickled") << QStringLiteral("Command1") << int(F::Trickle) << QByteArray()
                              << false << QStringLiteral("0");
    add("late reply after a time-out", "Command1", kChannel5Reply, "5", true);
    for (int position : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12}) {
        QByteArray reply = kChannel5Reply;
        reply[position] = char(reply.at(position) ^ 0x80);
        add(QStringLiteral("position %1 wrong").arg(position), "Command1", reply, "?");
    }
    add("any check byte", "Command1", replyTo(6, "0500"), "5");
    add("one byte more fits", "Command1", kChannel5Reply + hex("ee"), "5");
    add("two replies back to back", "Command1", kChannel5Reply + kChannel5Reply, "?");
    add("noise before the reply", "Command1", hex("5555") + kChannel5Reply, "?");
    add("15 bytes, terminator at 11 12", "readchannel", hex("afaf0000af000e043906ee0d0a0000"), "?");
    // Values no list entry names; the editors' round trips decode every listed one.
    add("serial baud 0", "readserial", replyTo(2, "0000"), "?/?");
    add("serial baud 9", "readserial", replyTo(2, "0900"), "?/?");
    add("serial parity 3", "readserial", replyTo(2, "0403"), "?/?");
    add("data rate 0", "readdatarate", replyTo(4, "0000"), "?");
    add("data rate 8", "readdatarate", replyTo(4, "0800"), "?");
    add("channel 33", "Command1", replyTo(6, "2100"), "33");
    add("power 0", "Command3", replyTo(12, "0000"), "0");
    add("power 128", "Command3", replyTo(12, "8000"), "128");
    add("frequency 39 00 00 00", "readchannel", replyTo(14, "39000000"), "855");
    add("frequency 3a 00 00 00", "readchannel", replyTo(14, "3a000000"), "870");
    // Out of band: the box's range rule must not get to claim 868 for them.
    add("frequency 39 0d dd de", "readchannel", replyTo(14, "390dddde"), "?");
    add("frequency 00 00 00 00", "readchannel", replyTo(14, "00000000"), "?");
}

void TestTransaction::exchange() {
    QFETCH(QString, button);
    QFETCH(int, fault);
    QFETCH(QByteArray, reply);
    QFETCH(bool, late);
    QFETCH(QString, text);
    const Code& code = codeFor(button);
    const QByteArray frame = hex(code.frame);
    const QString status = text.startsWith(QLatin1Char('?')) ? kFail : kOk;
    // "00000" is refused; channel 0 would hide a payload that never reaches the frame.
    w->textBox("id")->setText(QStringLiteral("4660"));
    w->combo("Combo1")->setEditText(QStringLiteral("5"));
    w->module->model().queueFault({emu::FaultKind(fault), 0});
    // Once the module has the request only its reply can fill a box again.
    connect(w->module.get(), &emu::PtyHost::requestReceived, w->form.get(), [this] {
        for (QLineEdit* box : w->form->findChildren<QLineEdit*>())
            box->setText(QStringLiteral("?"));
    });
    QSignalSpy receiveEvents(&w->form->serialLink(), &SerialLink::OnComm);
    QSignalSpy sent(w->module.get(), &emu::PtyHost::replySent);
    w->click(code.button);
    QCOMPARE(w->status(), kWaiting);
    QCOMPARE(w->enabledCommandButtons(), 0);
    QCOMPARE(w->form->pendingCommand, qint16(frame.at(6)));
    QCOMPARE(w->form->serialLink().rThreshold(), int(frame.size()));
    QCOMPARE(w->form->replyBuffer, QByteArray(frame.size() + 1, '\0'));
    QTRY_COMPARE_WITH_TIMEOUT(w->wire(), frame, kWaitMs);
    bool unlockedWhileWaiting = false;
    const auto reached = [&](const QString& end) {
        unlockedWhileWaiting |= w->status() == kWaiting && w->enabledCommandButtons() != 0;
        return w->status() == end;
    };
    if (late) {
        QTRY_VERIFY_WITH_TIMEOUT(reached(kTimeOut), kTimeOutWaitMs);
        QCOMPARE(w->enabledCommandButtons(), 12);
        QVERIFY(!timer2()->isActive());
        QCOMPARE(w->form->pendingCommand, qint16(frame.at(6)));
        QCOMPARE(w->form->serialLink().rThreshold(), int(frame.size()));
    }
    // One write, so any surplus is already waiting when the threshold is met.
    if (!reply.isEmpty())
        w->module->writeRaw(reply);
    QTRY_VERIFY_WITH_TIMEOUT(reached(status), kWaitMs);
    QVERIFY(!unlockedWhileWaiting);
    QCOMPARE(receiveEvents.count(), 1);
    QCOMPARE(w->boxTexts(QLatin1String(code.controls)), text);
    QCOMPARE(w->form->pendingCommand, qint16(status == kOk ? 0 : frame.at(6)));
    if (status == kOk)
        QCOMPARE(w->form->serialLink().rThreshold(), 0);
    QCOMPARE(w->enabledCommandButtons(), 12);
    QVERIFY(!timer2()->isActive());
    const QString tip = w->widget<QLabel>("panel2")->toolTip();
    for (const QByteArray& bytes :
         {frame, reply.isEmpty() ? sent.value(0).value(0).toByteArray() : reply})
        QVERIFY2(tip.contains(QLatin1String(bytes.toHex(' ').toUpper())), qPrintable(tip));
}

void TestTransaction::receiveEvents_data() {
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<QByteArray>("waiting");
    QTest::addColumn<QString>("status");
    QTest::newRow("zero bytes waiting") << true << false << QByteArray() << kFail;
    QTest::newRow("nothing pending") << false << false << QByteArray() << QString();
    QTest::newRow("reply after the port closed") << true << true << kChannel5Reply << kOk;
    QTest::newRow("time-out after the port closed") << true << true << QByteArray() << kTimeOut;
}

// A pseudo-terminal never raises a receive event with nothing waiting nor delivers once closed.
void TestTransaction::receiveEvents() {
    QFETCH(bool, pending);
    QFETCH(bool, closed);
    QFETCH(QByteArray, waiting);
    QFETCH(QString, status);
    ScriptedLink* link = useScriptedLink();
    QVERIFY(w->openPort());
    if (pending)
        w->click("Command1");
    const QString before = w->status();
    if (closed)
        w->click("comopen");
    QCOMPARE(link->portOpen(), !closed);
    link->waiting = waiting;
    if (status != kTimeOut)
        link->raiseReceive();
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), status.isNull() ? before : status, kTimeOutWaitMs);
    QCOMPARE(w->combo("Combo1")->currentText(), QLatin1String(status == kOk ? "5" : "0"));
    QCOMPARE(w->form->pendingCommand, qint16(pending && status != kOk ? 6 : 0));
    // A port closed meanwhile keeps its buttons off.
    QCOMPARE(w->enabledCommandButtons(), closed ? 0 : 12);
    QVERIFY(!timer2()->isActive());
    QVERIFY(w->messages().isEmpty());
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
    QCOMPARE(w->messages(), QStringList{kDeviceError});
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
    QCOMPARE(w->messages(), QStringList{kDeviceError});
    QVERIFY(!timer2()->isActive());
    QVERIFY(w->status() != kWaiting);
    QCOMPARE(w->enabledCommandButtons(), 0);
}

void TestTransaction::leftoverSpoilsOneExchangeAtMost_data() {
    QTest::addColumn<bool>("timeOutFirst");
    QTest::addColumn<QByteArray>("leftover"); // arrives after an exchange, before the next one
    QTest::newRow("stray byte between exchanges") << false << hex("55");
    // The late reply answers the next request, one behind; the reply to that one is left over.
    QTest::newRow("late reply after the next request") << true << replyTo(6, "0200");
}

void TestTransaction::leftoverSpoilsOneExchangeAtMost() {
    QFETCH(bool, timeOutFirst);
    QFETCH(QByteArray, leftover);
    // The test answers in the module's place, so it decides what arrives when.
    w->module->model().setFault({emu::FaultKind::Silent, 0});
    int requests = 0;
    const auto read = [&](const char* payload) {
        w->click("Command1");
        ++requests;
        QTRY_COMPARE_WITH_TIMEOUT(w->wire().size(), 13 * requests, kWaitMs);
        if (payload)
            w->module->writeRaw(replyTo(6, payload));
    };
    if (timeOutFirst) {
        read(nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(w->status(), kTimeOut, kTimeOutWaitMs);
    }
    read("0100");
    QTRY_COMPARE_WITH_TIMEOUT(w->status(), kOk, kWaitMs);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("1"));
    w->module->writeRaw(leftover);
    QTRY_COMPARE_WITH_TIMEOUT(w->form->serialLink().inBufferCount(), int(leftover.size()), kWaitMs);
    read("0300");
    QTRY_VERIFY_WITH_TIMEOUT(w->status() != kWaiting, kWaitMs);
    QCOMPARE(w->status(), kOk);
    QCOMPARE(w->combo("Combo1")->currentText(), QStringLiteral("3"));
    QCOMPARE(w->form->pendingCommand, qint16(0));
}

QTEST_MAIN(TestTransaction)
#include "tst_transaction.moc"

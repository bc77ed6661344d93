// The module session alone: each emulated fault, each byte a reply is checked by, link failures.
#include "core/module_session.h"
#include "core/qt_serial_link.h"
#include "core/serial_errors.h"
#include "emulator/pty_host.h"
#include "support/frames.h"
#include "support/scripted_link.h"

#include <QTest>
#include <QTimer>

using namespace zentrava;
using namespace zentrava::test;
using Rejection = ModuleSession::Rejection;

namespace {

// What a session reported, one line a signal, so a whole exchange is compared at once.
QString accepted(int code, const ModuleValue& v) {
    return QStringLiteral("accepted %1: %2")
        .arg(code)
        .arg(v.setting == Setting::Frequency
                 ? QString::fromLatin1(frequencyBytes(v.frequency).toHex())
                 : QString::number(v.number));
}
const auto rejected = [](int code, Rejection why) {
    return QStringLiteral("rejected %1: %2").arg(code).arg(int(why));
};
const auto timedOut = [](int code) { return QStringLiteral("timed out %1").arg(code); };

void record(ModuleSession& session, QStringList& log) {
    QObject::connect(&session, &ModuleSession::accepted, &session,
                     [&log](CommandCode code, const ModuleValue& v) { log << accepted(code, v); });
    QObject::connect(&session, &ModuleSession::rejected, &session,
                     [&log](CommandCode code, Rejection reason) { log << rejected(code, reason); });
    QObject::connect(&session, &ModuleSession::timedOut, &session,
                     [&log](CommandCode code) { log << timedOut(code); });
    QObject::connect(&session, &ModuleSession::deviceLost, &session,
                     [&log] { log << QStringLiteral("device lost"); });
}

enum class Ending { Accepted, Rejected, TimedOut, LateAccepted, Lost };

// Every fault mode of the emulated module, timed against the 800 ms reply time-out.
struct FaultCase {
    const char* name;
    const char* fault; // as kt7720-emu takes it
    Ending ending;
    Rejection reason = Rejection::Layout;
    const char* between = ""; // hex bytes that arrive after the exchange, before the next one
};

const FaultCase kFaultCases[] = {
    {"silent", "silent", Ending::TimedOut},
    {"delay short of the time-out", "delay:300", Ending::Accepted},
    {"delay past the time-out", "delay:1200", Ending::LateAccepted},
    {"wrong code", "wrong-code", Ending::Rejected},
    {"bad header", "bad-header", Ending::Rejected},
    {"bad length", "bad-length", Ending::Rejected},
    {"bad terminator", "bad-terminator", Ending::Rejected},
    {"one byte short", "short:1", Ending::TimedOut},
    {"one byte long", "long:1", Ending::Accepted},
    {"two bytes long", "long:2", Ending::Rejected, Rejection::Overrun},
    {"noise first", "noise:3", Ending::Rejected, Rejection::Overrun},
    {"quick trickle", "trickle:5", Ending::Accepted},
    // Thirteen bytes 100 ms apart cannot all be in before the time-out.
    {"slow trickle", "trickle:100", Ending::LateAccepted},
    {"paced", "paced", Ending::Accepted},
    {"vanish", "vanish", Ending::Lost},
    // The start of a reply, so the next request must not take it for its own.
    {"stray bytes between exchanges", "none", Ending::Accepted, {}, "afaf0000af00"},
};

// A read and a write of each frame size, asked against the fault and again once it has passed.
const CommandCode kFaultOps[] = {command::kReadChannel, command::kWriteChannel,
                                 command::kReadFrequency, command::kWriteFrequency};

ModuleValue valueFor(CommandCode code, int which) {
    return code < command::kWriteFrequency
               ? ModuleValue::channel(17 + which)
               : ModuleValue::frequencyWord({0x39, 8, 0, quint8(which)});
}

} // namespace

class TestSession : public QObject {
    Q_OBJECT

    QStringList log;

private Q_SLOTS:
    void cleanup() { log.clear(); }

    void faults_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("fault");
        for (const CommandCode code : kFaultOps) {
            for (std::size_t fault = 0; fault < std::size(kFaultCases); ++fault)
                QTest::addRow("%s, %d bytes: %s", code % 2 ? "write" : "read", frameLength(code),
                              kFaultCases[fault].name)
                    << int(code) << int(fault);
        }
    }

    // How the exchange ends, what stays awaited, and that the next exchange works.
    void faults() {
        QFETCH(int, code);
        QFETCH(int, fault);
        const FaultCase& f = kFaultCases[fault];
        emu::PtyHost host;
        QVERIFY(host.open());
        PortMap map;
        map.set(1, host.devicePath());
        QtSerialLink link(map);
        QCOMPARE(link.setCommPort(1), 0);
        QCOMPARE(link.setPortOpen(true), 0);
        ModuleSession session(link);
        record(session, log);
        // A read finds the value held by the module; a write sends it.
        const auto ask = [&](int which) {
            if (code % 2 == 1)
                return session.request(code, *encodePayload(valueFor(code, which)));
            host.model().settings().channel = std::uint8_t(17 + which);
            host.model().settings().frequency = valueFor(command::kReadFrequency, which).frequency;
            return session.request(code);
        };

        host.model().queueFault(*emu::ModuleModel::parseFault(QString::fromLatin1(f.fault)));
        QCOMPARE(ask(0), 0);
        QCOMPARE(session.pending(), code);
        const QString ok = accepted(code, valueFor(code, 0)), late = timedOut(code);
        const QStringList endings[] = {
            {ok}, {rejected(code, f.reason)}, {late}, {late, ok}, {"device lost"}};
        const QStringList& expected = endings[int(f.ending)];
        QTRY_COMPARE_WITH_TIMEOUT(log, expected, 5000);
        // Only a time-out leaves the request awaited; no reply timer is left to fire later.
        QCOMPARE(session.pending(), f.ending == Ending::TimedOut ? code : 0);
        QVERIFY(!session.findChild<QTimer*>()->isActive());
        QCOMPARE(link.portOpen(), f.ending != Ending::Lost);
        if (f.ending == Ending::Lost) {
            QCOMPARE(ask(1), serial_error::kPortNotOpen);
            QCOMPARE(session.pending(), 0);
            return;
        }
        const QByteArray stray = QByteArray::fromHex(f.between);
        if (!stray.isEmpty()) {
            host.writeRaw(stray);
            QTRY_COMPARE(link.inBufferCount(), int(stray.size()));
        }
        QCOMPARE(ask(1), 0);
        QTRY_COMPARE_WITH_TIMEOUT(log, expected + QStringList{accepted(code, valueFor(code, 1))},
                                  5000);
        QCOMPARE(session.pending(), 0);
    }

    // Each byte a reply is checked by, and values no list names; the emulator's faults above.
    void replies_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("how");     // check bytes verified, or the link operation failing
        QTest::addColumn<QString>("outcome"); // empty: none
        const auto row = [](const QString& name, int code, const QByteArray& reply,
                            const QString& outcome, const char* how = "") {
            QTest::newRow(qPrintable(name)) << code << reply << QString(how) << outcome;
        };
        const int channel = command::kReadChannel;
        const QByteArray five = replyFrame(channel, hex("0500"));
        for (int position : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12}) {
            QByteArray reply = five;
            reply[position] = char(reply.at(position) ^ 0x80);
            row(QStringLiteral("position %1 wrong").arg(position), channel, reply,
                rejected(channel, Rejection::Layout));
        }
        const QByteArray offByOne = replyFrame(channel, hex("0500"), 1);
        const QString ok = accepted(channel, ModuleValue::channel(5));
        row("check byte off", channel, offByOne, ok);
        row("check byte off, verified", channel, offByOne, rejected(channel, Rejection::CheckByte),
            "verified");
        row("check byte right, verified", channel, five, ok, "verified");
        row("15 bytes, terminator at 11 12", command::kReadFrequency,
            hex("afaf0000af000e043906ee0d0a0000"), rejected(14, Rejection::Layout));
        row("channel 255", channel, replyFrame(channel, hex("ff07")),
            accepted(channel, ModuleValue::channel(255)));
        for (const char* reply : {"020000", "020900", "020403", "040000", "040800"}) {
            const int code = hex(reply).at(0);
            row(QStringLiteral("code %1").arg(reply), code, replyFrame(code, hex(reply).mid(1)),
                rejected(code, Rejection::UnknownValue));
        }
        row("input fails", channel, five, rejected(channel, Rejection::ReadFailed), "input");
        row("no time-out", channel, {}, QString(), "no time-out");
        // Nothing is awaited after a failed request, so the reply answers nothing.
        row("output fails", channel, five, QString(), "output");
    }

    void replies() {
        QFETCH(int, code);
        QFETCH(QByteArray, reply);
        QFETCH(QString, how);
        QFETCH(QString, outcome);
        ScriptedLink link;
        link.openablePorts = {1};
        QCOMPARE(link.setPortOpen(true), 0);
        ModuleSession session(link);
        session.setCheckByteVerified(how == "verified");
        // After a zero, no earlier time-out may still apply: the window keeps its own time.
        session.setTimeout(250);
        session.setTimeout(how == "no time-out" ? 0 : 250);
        record(session, log);
        const bool failing = how == "input" || how == "output";
        if (failing)
            link.failures[how] = serial_error::kDeviceError;
        QCOMPARE(session.request(CommandCode(code)),
                 how == "output" ? serial_error::kDeviceError : 0);
        link.waiting = reply;
        if (!reply.isEmpty())
            link.raiseReceive();
        QCOMPARE(log, outcome.isEmpty() ? QStringList() : QStringList{outcome});
        QCOMPARE(session.pending(), reply.isEmpty() ? code : 0);
        // Nothing more within two time-outs: a stray reply timer would have fired.
        if (failing || reply.isEmpty())
            QVERIFY(!QTest::qWaitFor([&, n = log.size()] { return log.size() > n; }, 500));
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"

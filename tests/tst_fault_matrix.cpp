// The session against every way the emulated module misbehaves, for a read and a write of each
// frame size: how the exchange ends, what stays awaited, and that the next exchange works.
#include "core/module_session.h"
#include "core/qt_serial_link.h"
#include "core/serial_errors.h"
#include "emulator/pty_host.h"
#include "support/fault_cases.h"

#include <QMetaEnum>
#include <QTest>
#include <QTimer>

#include <array>
#include <memory>

using namespace zentrava;
using namespace zentrava::test;
using V = ModuleValue;

namespace {

constexpr int kWaitMs = 5000;

// A read finds its values held by the module; a write sends them. Two values, so the next
// exchange shows it got its own reply.
struct Op {
    const char* name;
    CommandCode code;
    std::array<V, 2> values;
};

const Op kOps[] = {
    {"read, 13 bytes", command::kReadChannel, {V::channel(7), V::channel(8)}},
    {"write, 13 bytes", command::kWriteChannel, {V::channel(17), V::channel(18)}},
    {"read, 15 bytes",
     command::kReadFrequency,
     {V::frequencyWord(frequencyWord(0x3a000000)), V::frequencyWord(frequencyWord(0x39000000))}},
    {"write, 15 bytes",
     command::kWriteFrequency,
     {V::frequencyWord(frequencyWord(0x390aaaaa)), V::frequencyWord(frequencyWord(0x39155555))}},
};

QString accepted(CommandCode code, const V& v) {
    const QString value = v.setting == Setting::Frequency
                              ? QString::fromLatin1(frequencyBytes(v.frequency).toHex())
                              : QString::number(v.number);
    return QStringLiteral("accepted %1: %2").arg(code).arg(value);
}
QString rejected(CommandCode code, ModuleSession::Rejection reason) {
    const char* key = QMetaEnum::fromType<ModuleSession::Rejection>().valueToKey(int(reason));
    return QStringLiteral("rejected %1: %2").arg(code).arg(QLatin1String(key));
}
QString timedOut(CommandCode code) {
    return QStringLiteral("timed out %1").arg(code);
}
const QString kDeviceLost = QStringLiteral("device lost");

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

    std::unique_ptr<emu::PtyHost> host;
    std::unique_ptr<QtSerialLink> link;
    std::unique_ptr<ModuleSession> session;
    QStringList log;

    int ask(const Op& op, int which) {
        const V& value = op.values[std::size_t(which)];
        if (op.code % 2 == 1)
            return session->request(op.code, *encodePayload(value));
        hold(host->model().settings(), value);
        return session->request(op.code);
    }

private Q_SLOTS:
    void init() {
        host = std::make_unique<emu::PtyHost>();
        QVERIFY(host->open());
        PortMap map;
        map.set(1, host->devicePath());
        link = std::make_unique<QtSerialLink>(map);
        QCOMPARE(link->setCommPort(1), 0);
        QCOMPARE(link->setPortOpen(true), 0);
        session = std::make_unique<ModuleSession>(*link);
        connect(session.get(), &ModuleSession::accepted, this,
                [this](CommandCode code, const V& value) { log << accepted(code, value); });
        connect(session.get(), &ModuleSession::rejected, this,
                [this](CommandCode code, auto reason) { log << rejected(code, reason); });
        connect(session.get(), &ModuleSession::timedOut, this,
                [this](CommandCode code) { log << timedOut(code); });
        connect(session.get(), &ModuleSession::deviceLost, this, [this] { log << kDeviceLost; });
    }

    void cleanup() {
        session.reset();
        link.reset();
        host.reset();
        log.clear();
    }

    void faults_data() { addFaultRows(kOps); }

    void faults() {
        QFETCH(int, op);
        QFETCH(int, fault);
        const Op& o = kOps[op];
        const FaultCase& f = kFaultCases[fault];
        host->model().queueFault(f.emulatorFault());
        QCOMPARE(ask(o, 0), 0);
        QCOMPARE(session->pending(), o.code);
        QStringList expected;
        switch (f.ending) {
        case Ending::Accepted:
            expected = {accepted(o.code, o.values[0])};
            break;
        case Ending::Rejected:
            expected = {rejected(o.code, f.reason)};
            break;
        case Ending::TimedOut:
            expected = {timedOut(o.code)};
            break;
        case Ending::LateAccepted:
            expected = {timedOut(o.code), accepted(o.code, o.values[0])};
            break;
        case Ending::Lost:
            expected = {kDeviceLost};
            break;
        }
        QTRY_COMPARE_WITH_TIMEOUT(log, expected, kWaitMs);
        // Only a time-out leaves the request awaited; no reply timer is left to fire later.
        QCOMPARE(session->pending(), f.ending == Ending::TimedOut ? o.code : 0);
        QVERIFY(!session->findChild<QTimer*>()->isActive());
        QCOMPARE(link->portOpen(), f.ending != Ending::Lost);
        if (f.ending == Ending::Lost) {
            QCOMPARE(ask(o, 1), serial_error::kPortNotOpen);
            QCOMPARE(session->pending(), 0);
            return;
        }
        const QByteArray stray = f.strayBytes();
        if (!stray.isEmpty()) {
            host->writeRaw(stray);
            QTRY_COMPARE(link->inBufferCount(), int(stray.size()));
        }
        QCOMPARE(ask(o, 1), 0);
        expected << accepted(o.code, o.values[1]);
        QTRY_COMPARE_WITH_TIMEOUT(log, expected, kWaitMs);
        QCOMPARE(session->pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_fault_matrix.moc"

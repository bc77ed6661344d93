// The session against every way the emulated module misbehaves, for a read and a write of each
// frame size: how the exchange ends, what stays awaited, and that the next exchange works.
#include "core/qt_serial_link.h"
#include "core/serial_errors.h"
#include "emulator/pty_host.h"
#include "support/fault_cases.h"
#include "support/session_log.h"

#include <QTimer>

#include <memory>

using namespace zentrava;
using namespace zentrava::test;

class TestFaultMatrix : public QObject {
    Q_OBJECT

    std::unique_ptr<emu::PtyHost> host;
    std::unique_ptr<QtSerialLink> link;
    std::unique_ptr<ModuleSession> session;
    QStringList log;

    int ask(const FaultOp& op, int which) {
        if (op.code % 2 == 1)
            return session->request(op.code, *encodePayload(op.value(which)));
        op.hold(host->model().settings(), which);
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
        record(*session, log);
    }

    void cleanup() {
        session.reset();
        link.reset();
        host.reset();
        log.clear();
    }

    void faults_data() { addFaultRows(); }

    void faults() {
        QFETCH(int, op);
        QFETCH(int, fault);
        const FaultOp& o = kFaultOps[op];
        const FaultCase& f = kFaultCases[fault];
        host->model().queueFault(f.emulatorFault());
        QCOMPARE(ask(o, 0), 0);
        QCOMPARE(session->pending(), o.code);
        const QString ok = accepted(o.code, o.value(0));
        // For each ending, in the order of Ending.
        const QStringList endings[] = {{ok},
                                       {rejected(o.code, f.reason)},
                                       {timedOut(o.code)},
                                       {timedOut(o.code), ok},
                                       {kDeviceLost}};
        const QStringList& expected = endings[int(f.ending)];
        QTRY_COMPARE_WITH_TIMEOUT(log, expected, 5000);
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
        QTRY_COMPARE_WITH_TIMEOUT(log, expected + QStringList{accepted(o.code, o.value(1))}, 5000);
        QCOMPARE(session->pending(), 0);
    }
};

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_fault_matrix.moc"

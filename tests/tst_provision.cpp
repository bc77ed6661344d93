// kt7720ctl provision against fixtures emulated here, so the test puts modules on and off.
#include "emulator/pty_host.h"
#include "support/frames.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>

using namespace zentrava;
using zentrava::test::requestCodes;

namespace {

constexpr int kWaitMs = 20000;

// Requests other than the reads of the channel that tell whether a module is on.
qsizetype beyondPolls(const emu::PtyHost& fixture) {
    return requestCodes(fixture.received()).size() - requestCodes(fixture.received()).count(6);
}

struct Stop {
    bool moduleOn;
    int delayMs;        // of every reply after the first
    int interruptAfter; // the request code; 0: none
    QString args;
    int status;
    QString out, err;
    QList<int> wire; // not looked at while the fixture is empty
};

} // namespace

Q_DECLARE_METATYPE(Stop)

class TestProvision : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<emu::PtyHost>> fixtures;
    QProcess ctl;
    QStringList lines; // stdout so far
    QTemporaryDir dir;

    emu::PtyHost& addFixture(bool moduleOn, emu::Fault fault = {}) {
        fixtures.push_back(std::make_unique<emu::PtyHost>());
        if (!fixtures.back()->open())
            qFatal("no pseudo-terminal");
        if (!moduleOn)
            fixtures.back()->takeOff();
        fixtures.back()->model().setFault(fault);
        fixtures.back()->model().queueFault({}); // the read that finds the module goes well
        return *fixtures.back();
    }

    void start(const QString& args) {
        QStringList words;
        for (const auto& fixture : fixtures)
            words << QStringLiteral("--port") << fixture->devicePath();
        words += QString(args).replace(QLatin1String("@dir"), dir.path()).split(u' ');
        connect(&ctl, &QProcess::readyReadStandardOutput, this, [this] {
            while (ctl.canReadLine())
                lines << QString::fromUtf8(ctl.readLine()).chopped(1);
        });
        ctl.start(QStringLiteral(KT7720CTL_PATH), words);
    }

    void interruptAndWait() {
        ::kill(pid_t(ctl.processId()), SIGINT);
        QTRY_COMPARE_WITH_TIMEOUT(ctl.state(), QProcess::NotRunning, kWaitMs);
    }

    // The program asks `polls` more times (13 bytes each): after two it has seen the change.
    static bool asked(const emu::PtyHost& fixture, int polls) {
        const qsizetype mark = fixture.received().size() + polls * 13;
        return QTest::qWaitFor([&] { return fixture.received().size() >= mark; }, kWaitMs);
    }

private Q_SLOTS:
    void cleanup() {
        ctl.kill();
        ctl.waitForFinished();
        ctl.disconnect(this);
        lines.clear();
        fixtures.clear();
    }

    void modulesOneAfterAnother() {
        emu::PtyHost& fixture = addFixture(true);
        QSignalSpy misheard(&fixture, &emu::PtyHost::misheard);
        start(QStringLiteral("provision channel=5 power=20 baud=19200 --verify --log @dir/log"));
        QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 1, kWaitMs);     // one already on counts as put on
        fixture.model().queueFault({emu::FaultKind::Silent, 0}); // one missed poll: still on
        QVERIFY(asked(fixture, 4));                              // left on: not written again
        fixture.takeOff();
        QVERIFY(asked(fixture, 3));
        fixture.putOn({});
        fixture.model().setFault({emu::FaultKind::WrongCode, 0});
        fixture.model().queueFault({});
        QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 2, kWaitMs);
        QVERIFY(asked(fixture, 4)); // a failed module is not tried again while it stays on
        fixture.takeOff();
        QVERIFY(asked(fixture, 3));
        fixture.model().setFault({});
        fixture.putOn({});
        QTRY_COMPARE_WITH_TIMEOUT(lines.size(), 3, kWaitMs);
        QVERIFY(asked(fixture, 2));
        interruptAndWait();

        QCOMPARE(ctl.exitCode(), 1);
        QVERIFY(ctl.readAllStandardError().endsWith("provisioned 2, failed 1\n"));
        const QString ok =
            fixture.devicePath() + "  OK      channel=5 power=20 baud=19200 parity=n";
        QCOMPARE(lines.mid(0, 1) + lines.mid(2), (QStringList{ok, ok}));
        QVERIFY2(lines.at(1).startsWith(fixture.devicePath() + "  FAILED  bad reply (header"),
                 qPrintable(lines.at(1)));
        // Each module asked once, the failed one until its bad reply, each at the baud it had.
        QCOMPARE(beyondPolls(fixture), 6 + 1 + 6);
        QCOMPARE(misheard.count(), 0);
        QFile log(dir.filePath(QStringLiteral("log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> records = log.readAll().split('\n');
        QCOMPARE(records.size(), 4);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject record = QJsonDocument::fromJson(records[i]).object();
            QVERIFY(record[u"port"] == fixture.devicePath() && record[u"ok"] == (i != 1));
            QVERIFY(record[u"time"].toString().contains(
                QRegularExpression(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$)"))));
        }
    }

    // Three fixtures find their modules at once; the count lets only two be started.
    void countOverFixtures() {
        for (int i = 0; i < 3; ++i)
            addFixture(true);
        start(QStringLiteral("--json provision channel=9 --count 2"));
        QTRY_COMPARE_WITH_TIMEOUT(ctl.state(), QProcess::NotRunning, kWaitMs);
        QCOMPARE(ctl.exitCode(), 0);
        QCOMPARE(ctl.readAllStandardError(), QByteArray("provisioned 2, failed 0\n"));
        QCOMPARE(lines.size(), 2);
        QList<qsizetype> written;
        for (const auto& fixture : fixtures)
            written << beyondPolls(*fixture);
        std::sort(written.begin(), written.end());
        QCOMPARE(written, (QList<qsizetype>{0, 1, 1}));
    }

    void stops_data() {
        QTest::addColumn<Stop>("c");
        const auto row = [](const char* name, bool on, int delayMs, int interruptAfter,
                            const char* args, int status, const char* out, const char* err,
                            const QList<int>& wire = {}) {
            QTest::newRow(name) << Stop{on, delayMs, interruptAfter, args, status, out, err, wire};
        };
        row("interrupted while waiting", false, 0, 6, "provision channel=5", 0, "",
            "provisioned 0, failed 0");
        // The write's reply is a second late: the signal comes first.
        row("interrupted mid-module", true, 1000, 5, "provision channel=5 power=20", 1,
            "FAILED  interrupted", "provisioned 0, failed 1", {6, 5});
        row("log on a full disk", true, 0, 0, "provision channel=5 --log /dev/full", 3,
            "OK      channel=5", "cannot write the log /dev/full: No space left on device", {6, 5});
        row("log not opened", true, 0, 0, "provision channel=5 --log @dir", 3, "",
            "cannot open the log");
    }

    void stops() {
        QFETCH(Stop, c);
        emu::PtyHost& fixture = addFixture(
            c.moduleOn, c.delayMs ? emu::Fault{emu::FaultKind::Delay, c.delayMs} : emu::Fault{});
        start(c.args);
        if (c.interruptAfter) {
            QTRY_VERIFY_WITH_TIMEOUT(requestCodes(fixture.received()).contains(c.interruptAfter),
                                     kWaitMs);
            interruptAndWait();
        }
        QTRY_COMPARE_WITH_TIMEOUT(ctl.state(), QProcess::NotRunning, kWaitMs);
        const QString err = QString::fromUtf8(ctl.readAllStandardError());
        QVERIFY2(ctl.exitCode() == c.status && err.contains(c.err), qPrintable(err));
        QVERIFY(lines.join(u'\n').contains(c.out));
        if (c.moduleOn) // nothing after the signal or the failure, nothing before the log opened
            QCOMPARE(requestCodes(fixture.received()), c.wire);
    }
};

QTEST_GUILESS_MAIN(TestProvision)
#include "tst_provision.moc"

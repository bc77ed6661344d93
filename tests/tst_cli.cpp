// kt7720ctl as scripts meet it: the real binary against emulated modules on pseudo-terminals.
#include "emulator/pty_host.h"
#include "support/frames.h"

#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace zentrava;
using zentrava::test::replyFrame;
using zentrava::test::requestCodes;

namespace {

const QString kAll = QStringLiteral("channel=0|power=127|frequency=867.999973297119|id=1|"
                                    "datarate=9600|baud=9600|parity=n");

struct Case {
    int status = -1;
    QString out;          // lines joined by |
    QString err;          // a part of stderr, time stamps as T
    QStringList setups{}; // one module each
    QString args{};
    QList<int> wire{};    // the request codes the first module heard
    QByteArray profile{}; // the file @profile
};

void row(const char* name, const QStringList& setups, const char* args, int status,
         const QString& out, const char* err = "", const QList<int>& wire = {},
         const QByteArray& profile = {}) {
    QTest::newRow(name) << Case{status, out, err, setups, args, wire, profile};
}

} // namespace

Q_DECLARE_METATYPE(Case)

class TestCli : public QObject {
    Q_OBJECT

    std::vector<std::unique_ptr<emu::PtyHost>> modules;
    QTemporaryDir dir;

    // "channel:200 fault:silent reply:5=0400": held codes, faults, replies the test writes itself.
    emu::PtyHost& addModule(const QString& setup) {
        modules.push_back(std::make_unique<emu::PtyHost>());
        emu::PtyHost& module = *modules.back();
        if (!module.open())
            qFatal("no pseudo-terminal");
        emu::ModuleModel& model = module.model();
        const QMap<QString, std::uint8_t*> bytes = {{"channel", &model.settings().channel},
                                                    {"baud", &model.settings().baudCode},
                                                    {"parity", &model.settings().parityCode}};
        for (const QString& item : setup.split(u' ', Qt::SkipEmptyParts)) {
            const QString key = item.section(u':', 0, 0), value = item.section(u':', 1);
            if (bytes.contains(key))
                *bytes[key] = std::uint8_t(value.toUInt());
            else if (key == "fault")
                model.setFault(*emu::ModuleModel::parseFault(value));
            else if (key == "queue")
                model.queueFault(*emu::ModuleModel::parseFault(value));
            else if (key == "reply" || key == "badcheck") {
                const int code = value.section(u'=', 0, 0).toInt();
                const QByteArray reply =
                    replyFrame(code, QByteArray::fromHex(value.section(u'=', 1).toLatin1()),
                               key == "badcheck");
                model.setFault({emu::FaultKind::Silent, 0});
                QObject::connect(&module, &emu::PtyHost::requestReceived, &module,
                                 [&module, code, reply](const QByteArray& request) {
                                     if (request.at(6) == code)
                                         module.writeRaw(reply);
                                 });
            }
        }
        return module;
    }

    QString expand(QString text) const {
        for (std::size_t i = 0; i < modules.size(); ++i)
            text.replace(QStringLiteral("@%1").arg(i), modules[i]->devicePath());
        return text.replace(QLatin1String("@profile"), dir.filePath(QStringLiteral("p.json")));
    }

    // Awaited with the event loop running, for the emulators on this thread; through the shell,
    // so a row may redirect the output (">/dev/full", ">&-"). Every module's port comes first.
    Case run(QString arguments) {
        for (std::size_t i = modules.size(); i-- > 0;)
            arguments.prepend(QStringLiteral("--port @%1 ").arg(i));
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start("/bin/sh", {"-c", R"(exec "$0" )" + expand(arguments), KT7720CTL_PATH});
        if (finished.isEmpty() && !finished.wait(30000))
            return {};
        return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

private Q_SLOTS:
    void cleanup() { modules.clear(); }

    void runs() {
        QFETCH(Case, c);
        for (const QString& setup : c.setups)
            addModule(setup);
        QFile file(expand(QStringLiteral("@profile")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(c.profile) == c.profile.size());
        file.close();

        // Replies can be slow on a loaded machine; a row's own --timeout comes later and wins.
        Case result = run("--timeout 10000 " + c.args);
        result.err.replace(QRegularExpression(QStringLiteral(R"(\d\d:\d\d:\d\d\.\d\d\d)")),
                           QStringLiteral("T"));
        QVERIFY2(
            result.status == c.status,
            qPrintable(QStringLiteral("exit %1, stderr: %2").arg(result.status).arg(result.err)));
        QCOMPARE(result.out,
                 c.out.isEmpty() ? QString() : expand(c.out).replace(u'|', u'\n') + u'\n');
        QVERIFY2(result.err.contains(expand(c.err)), qPrintable(result.err));
        for (const auto& module : modules) // a refusal sends nothing to any port
            QVERIFY(c.status != 2 || module->received().isEmpty());
        if (!c.wire.isEmpty())
            QCOMPARE(requestCodes(modules.front()->received()), c.wire);
    }

    void runs_data() {
        QTest::addColumn<Case>("c");
        row("get all", {""}, "get", 0, kAll, "", {6, 12, 14, 10, 4, 2});
        row("once each", {""}, "get power channel power", 0, "power=127|channel=0", "", {12, 6});
        row("get json", {"channel:3"}, "--json get all", 0,
            R"({"port":"@0","ok":true,"values":{"channel":3,"power":127,"frequency":)"
            R"(867.999973297119,"id":1,"datarate":9600,"baud":9600,"parity":"n"}})");
        row("json, 2 ports", {"channel:3", "fault:silent"}, "--json --timeout 1000 get channel", 4,
            R"({"port":"@0","ok":true,"values":{"channel":3}}|{"port":"@1","ok":false,)"
            R"("values":{},"error":"no reply within 1000 ms while reading channel"})");
        row("beyond the window's lists", {"reply:6=c800 reply:12=0000 reply:10=0000"},
            "get channel power id", 0, "channel=200|power=0|id=0");
        row("frames logged", {"channel:5"}, "-v get channel", 0, "channel=5",
            "T sent AF AF 00 00 AF 80 06 02 00 00 95 0D 0A\n"
            "T received AF AF 00 00 AF 00 06 02 05 00 1A 0D 0A\n");
        // Modules that fail, and the status that says how.
        row("data rate 0, reads go on", {"reply:4=0000 reply:6=0000"}, "get datarate channel", 1,
            "channel=0", "names no known data rate", {4, 6});
        row("frequency off the band", {"reply:14=00000000"}, "get frequency", 1, "",
            "frequency 0 MHz is outside 855 to 875");
        row("bad check byte", {"badcheck:6=0500"}, "get channel", 1, "", "(check byte)");
        row("ignored", {"badcheck:6=0500"}, "--ignore-check-byte get channel", 0, "channel=5");
        row("write not taken", {"reply:5=0400"}, "set channel=5", 1, "channel=4",
            "did not take channel=5: it answered channel=4");
        row("read back differs", {"reply:5=0500 reply:6=0400"}, "set channel=5 --verify", 1,
            "channel=5", "channel=5 was written but reads back as channel=4", {5, 6});
        row("a bad write stops the rest", {"fault:wrong-code"}, "set channel=5 baud=1200 parity=n",
            1, "", "while writing channel", {5});
        row("missing device", {}, "--port /dev/kt7720-missing get", 3, "",
            "/dev/kt7720-missing: cannot open the port: Port is not available");
        row("no terminal", {}, "--port /dev/null get", 3, "",
            "/dev/null: cannot open the port: /dev/null is not a serial device");
        row("a regular file", {}, "--port @profile get", 3, "", "p.json is not a serial device");
        row("a directory", {}, "--port / get", 3, "", "/: cannot open the port: / is a directory");
        row("output to /dev/full", {""}, ">/dev/full --json get", 3, "",
            "output: No space left on");
        row("output closed", {""}, ">&- set channel=1", 3, "", "output: Bad file descriptor", {5});
        row("vanished", {"fault:vanish"}, "get", 3, "", "@0: the port was lost");
        row("silent", {"fault:silent"}, "--timeout 200 get", 4, "", "@0: no reply within 200 ms",
            {6});
        // The reply time never ends early (tst_transaction tells why these two).
        row("replies at 770 ms are in time", {"fault:delay:770", "fault:delay:770"},
            "--timeout 800 get channel", 0, "@0 channel=0|@1 channel=0");
        row("replies at 830 ms are late", {"fault:delay:830", "fault:delay:830"},
            "--timeout 800 get id", 4, "", "no reply within 800 ms");
        row("retry", {"queue:silent"}, "--timeout 1000 --retries 1 get id", 0, "id=1", "",
            {10, 10});
        // The retry's twin reply comes while power is awaited, and power's own after it.
        row("a late reply after a retry", {"queue:delay:1500 fault:delay:1000"},
            "--timeout 1000 --retries 1 get channel power", 0, "channel=0|power=127");
        row("retries used up", {"fault:silent"}, "--timeout 200 --retries 2 set id=7", 4, "",
            "while writing id (3 tries)", {9, 9, 9});
        row("largest status of the ports", {"fault:wrong-code", "fault:silent", ""},
            "--timeout 1000 get channel", 4, "@2 channel=0");
        // The order of the writes, and what they leave the module holding.
        row("serial written last", {""}, "set parity=e baud=19200 channel=5", 0,
            "channel=5|baud=19200|parity=e", "", {5, 1});
        row("baud keeps parity", {"parity:2"}, "set baud=4800", 0, "baud=4800|parity=o", "",
            {2, 1});
        row("parity keeps baud", {"baud:8"}, "set parity=e", 0, "baud=115200|parity=e", "", {2, 1});
        row("verify before the serial write", {""}, "set baud=2400 id=4660 --verify", 0,
            "id=4660|baud=2400|parity=n", "", {2, 9, 10, 1, 2});
        row("profile, the command line wins", {""}, "set --from @profile power=10", 0,
            "channel=7|power=10|frequency=870", "", {5, 11, 13},
            R"({"channel": 7, "power": "9", "frequency": 870})");
        // What get --json printed for another module, every value away from the start-up ones.
        row("a get --json line clones a module", {""}, "set --from @profile --verify", 0,
            "channel=7|power=100|frequency=862.883348464966|id=4660|datarate=38400|baud=19200|"
            "parity=o",
            "", {5, 11, 13, 9, 3, 6, 12, 14, 10, 4, 1, 2},
            R"({"port":"/dev/x","ok":true,"values":{"channel":7,"power":100,)"
            R"("frequency":862.883348464966,"id":4660,"datarate":38400,"baud":19200,"parity":"o"}})");
        // Refused before anything is sent, to any of the ports; tst_protocol has the number texts.
        const auto refused = [](const char* name, const char* args, const char* err,
                                const QByteArray& profile = {}) {
            row(name, {"", ""}, args, 2, "", err, {}, profile);
        };
        refused("channel 255.5", "set channel=255.5",
                "channel=255.5 refused: channel takes a number");
        refused("frequency above the band", "set frequency=875.001", "frequency=875.001 refused");
        refused("id 0", "set id=0", "id takes plain digits naming 1 to 65535");
        refused("baud outside the list", "set baud=300", "baud=300 refused");
        refused("parity in capitals", "set parity=N", "parity takes one of n, e, o");
        refused("one refused among good ones", "set channel=5 power=300", "power=300 refused");
        refused("unknown name", "set volume=3", "unknown name 'volume'");
        refused("name given twice", "set channel=1 channel=2", "channel is given twice");
        refused("time-out of 0", "--timeout 0 get", "--timeout takes milliseconds");
        refused("option of another command", "get --verify", "--verify is not an option of get");
        refused("port given twice", "--port @0 get", "--port @0 is given twice");
        refused("profile not JSON", "set --from @profile", "is not one JSON object", "channel=5");
        refused("profile value refused", "set --from @profile", "id=0 refused", R"({"id": 0})");
        refused("profile from a failed read", "set --from @profile", "records a failed read",
                R"({"port": "x", "ok": false, "values": {"channel": 5}, "error": "x"})");
        refused("a long value cut short",
                "set id=12345678901234567890123456789012345678901234567890",
                "id=1234567890123456789012345678901234567890\u2026 refused");
        refused("empty port", "--port= get", "--port needs a device");
        refused("provision with nothing to write", "provision", "provision needs NAME=VALUE");
        row("no port", {}, "get", 2, "", "--port DEVICE");
    }

    void ports() {
        QStringList expected;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            expected << info.systemLocation();
        expected.sort();
        const Case plain = run("ports"), json = run("ports --json");
        QStringList listed;
        for (const QString& line : (plain.out + json.out).split(u'\n', Qt::SkipEmptyParts))
            listed << (line.startsWith(u'{')
                           ? QJsonDocument::fromJson(line.toUtf8())[u"port"].toString()
                           : line.section(u' ', 0, 0));
        QCOMPARE(listed, expected + expected);
        QVERIFY(plain.status == 0 && json.status == 0);
    }

    // Eight ports at once: every working module is done before the silent one's first time-out.
    void eightModulesAtOnce() {
        QSignalSpy silent(&addModule("fault:silent"), &emu::PtyHost::requestReceived);
        addModule("fault:vanish");
        QString out;
        qsizetype silentHeard = 0; // when another module was last asked
        for (int i = 2; i < 8; ++i) {
            connect(&addModule(QStringLiteral("channel:%1").arg(i)), &emu::PtyHost::requestReceived,
                    &silent, [&] { silentHeard = silent.count(); });
            for (const QString& line :
                 QString(kAll)
                     .replace("channel=0", QStringLiteral("channel=%1").arg(i))
                     .split(u'|'))
                out += QStringLiteral("@%1 %2\n").arg(i).arg(line);
        }
        const Case got = run("--timeout 2000 --retries 1 get all");
        QCOMPARE(got.out, expand(out));
        QCOMPARE(got.status, 4);
        QVERIFY2(got.err.contains(expand("@0: no reply within 2000 ms")) &&
                     got.err.contains(expand("@1: the port was lost")),
                 qPrintable(got.err));
        QCOMPARE(silentHeard, 1);
        QCOMPARE(silent.count(), 2); // a try each time-out: the retry is the fleet's clock
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

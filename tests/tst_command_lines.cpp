// Every program answers --help and --version, and refuses a wrong command line, on a machine
// without a display: each runs here as it would over SSH, with no display named. The windows
// then say what is wrong instead of aborting.
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

class TestCommandLines : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noDisplay_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a part of stdout
        QTest::addColumn<QString>("err"); // a part of stderr; none at all when empty
        const QString version = QStringLiteral(ZENTRAVA_VERSION);
        QMap<QString, QString> programs;
        for (const QString& path : QStringLiteral(ZENTRAVA_PROGRAMS).split(QLatin1Char('|')))
            programs.insert(path.section(QLatin1Char('/'), -1), path);
        auto row = [&](const QString& name, const char* what, QStringList arguments, int status,
                       QString out, QString err = {}) {
            QTest::addRow("%s %s", qPrintable(name), what)
                << programs.value(name) << arguments << status << out << err;
        };
        for (const QString& name : programs.keys()) {
            row(name, "--help", {"--help"}, 0, "Usage:");
            row(name, "-h", {"-h"}, 0, "Usage:");
            row(name, "--version", {"--version"}, 0, name + ' ' + version + '\n');
            row(name, "unknown option", {"--no-such-option"}, 2, "", "no-such-option");
        }
        for (const char* name : {"zentrava", "zentrava-demo"}) {
            row(name, "--help after a wrong option", {"--no-such-option", "--help"}, 0, "Usage:");
            row(name, "-v", {"-v"}, 0, QString::fromLatin1(name) + ' ' + version + '\n');
        }
        for (const char* name : {"zentrava", "zentrava-demo"}) {
            row(name, "without a display", {}, 1, "", "xvfb-run for a virtual display");
            // The platform plugin itself fails to start.
            row(name, "with the X11 platform", {"-platform", "xcb"}, 1, "", "desktop session");
        }
        row("zentrava", "with an argument", {"/dev/ttyUSB0"}, 2, "",
            "unexpected argument '/dev/ttyUSB0'");
        row("zentrava-demo", "unknown fault mode", {"--fault", "sulky"}, 2, "",
            "unknown fault mode sulky");
        if (programs.contains(QStringLiteral("kt7720ctl"))) {
            row("kt7720ctl", "--help lists the exit statuses", {"--help"}, 0, "4  no reply within");
            row("kt7720ctl", "-h among other words", {"set", "channel=999", "-h"}, 0, "Usage:");
        }
        row("zentrava-demo", "says it is a bench tool", {"--help"}, 0, "bench tool");
        row("kt7720-emu", "says it is a bench tool", {"--help"}, 0, "bench tool");
    }

    void noDisplay() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY(!program.isEmpty());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        QVERIFY2(process.waitForFinished(60000), qPrintable(process.errorString()));
        const QString stdoutText = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString stderrText = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(stderrText));
        QCOMPARE(process.exitCode(), status);
        QVERIFY2(stdoutText.contains(out), qPrintable(stdoutText));
        if (err.isEmpty())
            QCOMPARE(stderrText, QString());
        else
            QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
    }

    // The emulator's setting options reach the module it puts on the line, as kt7720ctl reads it.
    void emulatorSettings() {
        QString emulator, ctl;
        for (const QString& path : QStringLiteral(ZENTRAVA_PROGRAMS).split(QLatin1Char('|'))) {
            if (path.endsWith(QLatin1String("/kt7720-emu")))
                emulator = path;
            else if (path.endsWith(QLatin1String("/kt7720ctl")))
                ctl = path;
        }
        if (ctl.isEmpty())
            QSKIP("kt7720ctl is not built");
        QProcess module;
        module.start(emulator, {"--channel", "7", "--power", "20", "--data-rate", "2", "--baud",
                                "5", "--parity", "1", "--id", "0x1234", "--frequency", "860"});
        QVERIFY(module.waitForReadyRead(10000));
        const QString device = QString::fromLocal8Bit(module.readLine()).trimmed();
        QProcess get;
        get.start(ctl, {"--port", device, "get"});
        QVERIFY(get.waitForFinished(10000));
        module.kill();
        module.waitForFinished();
        QCOMPARE(QString::fromLocal8Bit(get.readAllStandardOutput()),
                 QStringLiteral("channel=7\npower=20\nfrequency=859.999980926514\nid=4660\n"
                                "datarate=2400\nbaud=19200\nparity=e\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_command_lines.moc"

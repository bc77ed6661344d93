// Each program's command line with no display named, as over SSH: windows say what is wrong.
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

// Each program's path by its name.
static const QMap<QString, QString> programs = [] {
    QMap<QString, QString> paths;
    for (const QString& path : QStringLiteral(ZENTRAVA_PROGRAMS).split('|'))
        paths.insert(path.section('/', -1), path);
    return paths;
}();

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
        auto row = [&](const QString& name, const char* what, QStringList arguments, int status,
                       QString out, QString err = {}) {
            QTest::addRow("%s %s", qPrintable(name), what)
                << programs.value(name) << arguments << status << out << err;
        };
        for (const QString& name : programs.keys()) {
            for (const char* help : {"--help", "-h"})
                row(name, help, {help}, 0, "Usage:");
            row(name, "--version", {"--version"}, 0, name + ' ' + version + '\n');
            row(name, "unknown option", {"--no-such-option"}, 2, "", "no-such-option");
        }
        for (const char* name : {"zentrava", "zentrava-demo"}) {
            row(name, "--help after a wrong option", {"--no-such-option", "--help"}, 0, "Usage:");
            row(name, "-v", {"-v"}, 0, QString::fromLatin1(name) + ' ' + version + '\n');
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
        for (const char* name : {"zentrava-demo", "kt7720-emu"})
            row(name, "says it is a bench tool", {"--help"}, 0, "bench tool");
    }

    void noDisplay() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        QVERIFY2(process.waitForFinished(60000), qPrintable(process.errorString()));
        const QString stdoutText = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString stderrText = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(process.exitStatus() == QProcess::NormalExit, qPrintable(stderrText));
        QCOMPARE(process.exitCode(), status);
        QVERIFY2(stdoutText.contains(out), qPrintable(stdoutText));
        QVERIFY2(err.isEmpty() ? stderrText.isEmpty() : stderrText.contains(err),
                 qPrintable(stderrText));
    }

    // The emulator's options set the values its module holds, as kt7720ctl reads them back.
    void emulatorOptions() {
        // QSKIP's variadic form trips -Wpedantic.
        if (!programs.contains(QStringLiteral("kt7720ctl")))
            return QTest::qSkip("kt7720ctl is not built", __FILE__, __LINE__);
        QProcess emulator;
        emulator.start(programs.value(QStringLiteral("kt7720-emu")),
                       QStringLiteral("--channel 7 --power 20 --data-rate 6 --baud 5 --parity 1 "
                                      "--id 4660 --frequency 870")
                           .split(u' '));
        QVERIFY(emulator.waitForReadyRead(30000));
        const QString device = QString::fromLocal8Bit(emulator.readLine()).trimmed();
        QProcess ctl;
        ctl.start(programs.value(QStringLiteral("kt7720ctl")), {"--port", device, "get"});
        QVERIFY(ctl.waitForFinished(60000));
        emulator.kill();
        emulator.waitForFinished();
        QCOMPARE(QString::fromLocal8Bit(ctl.readAllStandardOutput()),
                 QStringLiteral("channel=7\npower=20\nfrequency=870\nid=4660\ndatarate=38400\n"
                                "baud=19200\nparity=e\n"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLines)
#include "tst_command_lines.moc"

#include "app/command_line.h"

#include "core/usage_error.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zentrava {

namespace {

// Qt's window-system options are single-dash words (-platform, -style, -geometry); which of
// them QApplication takes only QApplication can tell.
bool mayHoldQtOptions(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.size() > 2 && argument[0] == QLatin1Char('-') &&
            argument[1] != QLatin1Char('-'))
            return true;
    }
    return false;
}

QString errorIn(const QCommandLineParser& parser, bool parsed, const CommandLineCheck& check) {
    if (!parsed)
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]);
    return check ? check(parser) : QString();
}

std::string programName;
QtMessageHandler qtHandler = nullptr;

// Over SSH or from a service there is nothing to show the window on; say so, and what to do.
[[noreturn]] void refuseWithoutDisplay(const char* why) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "%s: cannot show its window: %s.\n"
                 "Run it in a desktop session, or under xvfb-run for a virtual display; for "
                 "scripts, kt7720ctl talks to modules without a display.\n",
                 programName.c_str(), why);
    // Quick: the application may be half made.
    std::_Exit(1);
}

// Qt ends a window system that would not start with an abort and a core dump.
void refuseFailedWindowSystem(QtMsgType type, const QMessageLogContext& context,
                              const QString& message) {
    if (type == QtFatalMsg)
        refuseWithoutDisplay("the window system did not start");
    qtHandler(type, context, message);
}

// Qt picks X11 or Wayland by default, and each needs its display named.
bool displayMissing() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN) && !defined(Q_OS_ANDROID)
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return false;
    }
    return true;
#else
    return false;
#endif
}

} // namespace

void describeProgram(QCommandLineParser& parser, const char* name, const char* version,
                     const QString& description) {
    QCoreApplication::setApplicationName(QLatin1String(name));
    QCoreApplication::setApplicationVersion(QLatin1String(version));
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
}

void answerWithoutDisplay(QCommandLineParser& parser, int argc, char* argv[],
                          const CommandLineCheck& check) {
    int count = argc;
    // Enough for the program's name in the help text; no window system is touched.
    const QCoreApplication textOnly(count, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    programName = QCoreApplication::applicationName().toStdString();
    qtHandler = qInstallMessageHandler(refuseFailedWindowSystem);
    // Qt's own options are listed by QApplication alone, and one may name a platform.
    if (parser.isSet(QStringLiteral("help-all")) || mayHoldQtOptions(arguments))
        return;
    const QString error = errorIn(parser, parsed, check);
    if (!error.isEmpty())
        std::exit(reportUsageError(error));
    if (displayMissing())
        refuseWithoutDisplay("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
}

void readCommandLine(QCommandLineParser& parser, const CommandLineCheck& check) {
    // The window system started.
    qInstallMessageHandler(qtHandler);
    // --help and --version were answered before, whatever else the command line held.
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parsed && parser.isSet(QStringLiteral("help-all")))
        parser.process(QCoreApplication::arguments());
    const QString error = errorIn(parser, parsed, check);
    if (!error.isEmpty())
        std::exit(reportUsageError(error));
}

} // namespace zentrava

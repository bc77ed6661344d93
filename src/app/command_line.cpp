#include "app/command_line.h"

#include "core/usage_error.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdlib>

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
    // Qt's own options are listed by QApplication alone.
    if (parser.isSet(QStringLiteral("help-all")) || mayHoldQtOptions(arguments))
        return;
    const QString error = errorIn(parser, parsed, check);
    if (!error.isEmpty())
        std::exit(reportUsageError(error));
}

void readCommandLine(QCommandLineParser& parser, const CommandLineCheck& check) {
    // --help and --version were answered before, whatever else the command line held.
    const bool parsed = parser.parse(QCoreApplication::arguments());
    if (parsed && parser.isSet(QStringLiteral("help-all")))
        parser.process(QCoreApplication::arguments());
    const QString error = errorIn(parser, parsed, check);
    if (!error.isEmpty())
        std::exit(reportUsageError(error));
}

} // namespace zentrava

#include "emulator/module_model.h"
#include "emulator/pty_host.h"

#include "core/command_frame.h"
#include "core/frequency.h"
#include "core/number_text.h"
#include "core/signal_watch.h"
#include "core/usage_error.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTime>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

using namespace zentrava;
using namespace zentrava::emu;

namespace {

// Line by line and flushed, so a script reading the pipe sees the device path at once.
void printLine(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString stamped(const QString& event) {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + event;
}

void logLine(const char* direction, const QByteArray& bytes, const QString& note = {}) {
    QString line = frameLogLine(direction, bytes);
    if (!note.isEmpty())
        line += QStringLiteral("  (") + note + QLatin1Char(')');
    printLine(line);
}

[[noreturn]] void usageError(const QString& message) {
    std::exit(reportUsageError(message));
}

// Decimal, or hex after 0x, up to `max`.
std::optional<unsigned> parseUnsigned(const QString& text, unsigned max) {
    bool ok = false;
    const QString t = text.trimmed();
    unsigned value = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toUInt(&ok, 16);
    else if (!t.isEmpty() && t.front().isDigit())
        value = t.toUInt(&ok, 10);
    if (!ok || value > max)
        return std::nullopt;
    return value;
}

std::optional<FrequencyWord> parseFrequencyWord(QString text) {
    text.remove(QLatin1Char(' '));
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    if (text.size() != 8)
        return std::nullopt;
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return FrequencyWord{std::uint8_t(value >> 24), std::uint8_t(value >> 16),
                         std::uint8_t(value >> 8), std::uint8_t(value)};
}

QString describe(const ModuleSettings& s) {
    return QStringLiteral("baud code %1, parity code %2, data rate code %3, channel %4, "
                          "power %5, id %6, frequency %7 (%8 MHz)")
        .arg(s.baudCode)
        .arg(s.parityCode)
        .arg(s.dataRateCode)
        .arg(s.channel)
        .arg(s.power)
        .arg(s.id)
        .arg(hexText(frequencyBytes(s.frequency)), formatFrequency(decodeFrequency(s.frequency)));
}

QString description() {
    QString text = QStringLiteral(
        "A bench tool: emulates a KT7720 868 MHz radio module on a pseudo-terminal, for trying "
        "zentrava and kt7720ctl without a module. The first line printed is "
        "the device to open (9600 8N1); then every request (<-) and reply (->) is logged in hex.\n"
        "Setting values are stored as given, also outside the module's lists, and writes from "
        "the tool are kept the same way. Numbers may be decimal or 0x hex.\n\n"
        "Initial values: ");
    text += describe(ModuleSettings{});
    text += QStringLiteral(
        ".\n\nA fixture on a production line: SIGUSR1 puts a fresh module with the settings "
        "given here on the line, SIGUSR2 takes it off (it is then silent); --empty starts with "
        "none. A module listens at 9600,n until it answers a serial write, then at the baud "
        "rate written: requests sent at another one go unanswered. (A pseudo-terminal keeps "
        "no parity, so that cannot be checked.)");
    text += QStringLiteral("\n\nFault modes for --fault (applied to every reply):\n");
    for (const FaultInfo& info : kFaultTable) {
        QString name = QString::fromLatin1(info.name.data(), qsizetype(info.name.size()));
        if (info.defaultParam > 0)
            name += QStringLiteral("[:N]");
        text += QStringLiteral("  %1 %2\n")
                    .arg(name, -18)
                    .arg(QString::fromLatin1(info.help.data(), qsizetype(info.help.size())));
    }
    return text;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kt7720-emu"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZENTRAVA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(description());
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption faultOption(QStringLiteral("fault"),
                                         QStringLiteral("Fault mode, see above."),
                                         QStringLiteral("MODE[:N]"));
    const QCommandLineOption channelOption(
        QStringLiteral("channel"), QStringLiteral("RF channel, 0..255 (module's list: 0..32)."),
        QStringLiteral("N"));
    const QCommandLineOption powerOption(
        QStringLiteral("power"), QStringLiteral("TX power level, 0..255 (module's list: 1..127)."),
        QStringLiteral("N"));
    const QCommandLineOption dataRateOption(
        QStringLiteral("data-rate"),
        QStringLiteral("RF data rate code, 0..255 (module's list: 1..7)."), QStringLiteral("CODE"));
    const QCommandLineOption baudOption(
        QStringLiteral("baud"),
        QStringLiteral("Serial baud-rate code, 0..255 (module's list: 1..8)."),
        QStringLiteral("CODE"));
    const QCommandLineOption parityOption(
        QStringLiteral("parity"),
        QStringLiteral("Serial parity code, 0..255 (module's list: 0..2)."),
        QStringLiteral("CODE"));
    const QCommandLineOption idOption(QStringLiteral("id"), QStringLiteral("Product ID, 0..65535."),
                                      QStringLiteral("N"));
    const QCommandLineOption frequencyOption(
        QStringLiteral("frequency"),
        QStringLiteral("TX frequency in MHz, 15 up to below 3855, rounded down to a step."),
        QStringLiteral("MHZ"));
    const QCommandLineOption frequencyWordOption(
        QStringLiteral("frequency-word"), QStringLiteral("TX frequency word as 8 hex digits."),
        QStringLiteral("HEX8"));
    const QCommandLineOption emptyOption(
        QStringLiteral("empty"),
        QStringLiteral("Start with no module on the line, until SIGUSR1 puts one on."));
    parser.addOptions({emptyOption, faultOption, channelOption, powerOption, dataRateOption,
                       baudOption, parityOption, idOption, frequencyOption, frequencyWordOption});

    if (!parser.parse(QCoreApplication::arguments()))
        usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        usageError(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments()[0]));

    PtyHost host;
    ModuleSettings& settings = host.model().settings();

    auto byteOption = [&parser](const QCommandLineOption& option, std::uint8_t& target) {
        if (!parser.isSet(option))
            return;
        const QString text = parser.value(option);
        const std::optional<unsigned> value = parseUnsigned(text, 255);
        if (!value)
            usageError(QStringLiteral("--%1: '%2' is not a number from 0 to 255")
                           .arg(option.names().constFirst(), text));
        target = std::uint8_t(*value);
    };
    byteOption(channelOption, settings.channel);
    byteOption(powerOption, settings.power);
    byteOption(dataRateOption, settings.dataRateCode);
    byteOption(baudOption, settings.baudCode);
    byteOption(parityOption, settings.parityCode);

    if (parser.isSet(idOption)) {
        const std::optional<unsigned> value = parseUnsigned(parser.value(idOption), 65535);
        if (!value)
            usageError(QStringLiteral("--id: '%1' is not a number from 0 to 65535")
                           .arg(parser.value(idOption)));
        settings.id = std::uint16_t(*value);
    }
    if (parser.isSet(frequencyOption) && parser.isSet(frequencyWordOption))
        usageError(QStringLiteral("--frequency and --frequency-word exclude each other"));
    if (parser.isSet(frequencyOption)) {
        const std::optional<double> mhz = parseDecimal(parser.value(frequencyOption));
        if (!mhz || *mhz < 15.0 || *mhz >= 3855.0)
            usageError(QStringLiteral("--frequency: '%1' is not a number of MHz from 15 up to "
                                      "below 3855")
                           .arg(parser.value(frequencyOption)));
        settings.frequency = encodeFrequency(*mhz);
    }
    if (parser.isSet(frequencyWordOption)) {
        const std::optional<FrequencyWord> word =
            parseFrequencyWord(parser.value(frequencyWordOption));
        if (!word)
            usageError(QStringLiteral("--frequency-word: '%1' is not 8 hex digits")
                           .arg(parser.value(frequencyWordOption)));
        settings.frequency = *word;
    }
    if (parser.isSet(faultOption)) {
        const std::optional<Fault> fault = ModuleModel::parseFault(parser.value(faultOption));
        if (!fault)
            usageError(QStringLiteral("--fault: '%1' is not MODE or MODE:N with N from 1 to 600000 "
                                      "for a mode that takes one; modes: %2")
                           .arg(parser.value(faultOption),
                                ModuleModel::faultNames().join(QStringLiteral(", "))));
        host.model().setFault(*fault);
    }

    SignalWatch signalWatch;
    if (!signalWatch.watch({SIGINT, SIGTERM, SIGUSR1, SIGUSR2})) {
        std::fprintf(stderr, "kt7720-emu: cannot install signal handlers: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const ModuleSettings fresh = settings;
    QObject::connect(&signalWatch, &SignalWatch::received, &app, [&host, &fresh](int number) {
        if (number == SIGUSR1) {
            host.putOn(fresh);
            printLine(stamped(QStringLiteral("a fresh module put on")));
        } else if (number == SIGUSR2) {
            host.takeOff();
            printLine(stamped(QStringLiteral("the module taken off")));
        } else {
            QCoreApplication::quit();
        }
    });
    if (parser.isSet(emptyOption))
        host.takeOff();

    QString error;
    if (!host.open(&error)) {
        std::fprintf(stderr, "kt7720-emu: cannot open a pseudo-terminal: %s\n", qPrintable(error));
        return 1;
    }
    printLine(host.devicePath());
    printLine(QStringLiteral("# ") + describe(settings) + QStringLiteral(", fault ") +
              faultText(host.model().fault()) +
              (host.model().present() ? QString() : QStringLiteral(", no module on yet")));

    QObject::connect(&host, &PtyHost::requestReceived, &app,
                     [](const QByteArray& frame) { logLine("<-", frame); });
    QObject::connect(&host, &PtyHost::replySent, &app,
                     [](const QByteArray& bytes) { logLine("->", bytes); });
    QObject::connect(&host, &PtyHost::bytesDiscarded, &app, [](const QByteArray& bytes) {
        logLine("<-", bytes, QStringLiteral("not a request, ignored"));
    });
    QObject::connect(&host, &PtyHost::misheard, &app, [](const QByteArray& bytes) {
        logLine("<-", bytes, QStringLiteral("at another baud rate than the module's, ignored"));
    });
    QObject::connect(&host, &PtyHost::vanished, &app, [] {
        printLine(stamped(QStringLiteral("device closed (vanish)")));
        QCoreApplication::quit();
    });

    return app.exec();
}

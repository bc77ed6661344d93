#include "cli/command_line.h"

#include "core/usage_error.h"

#include <QCommandLineParser>

#include <array>
#include <string_view>

namespace zentrava::cli {

namespace {

enum CommandUse : unsigned {
    kGetUse = 1,
    kSetUse = 2,
    kPortsUse = 4,
    kProvisionUse = 8,
    kWriteUse = kSetUse | kProvisionUse,
    kModuleUse = kGetUse | kWriteUse,
};

struct CommandInfo {
    std::string_view name;
    Command command;
    CommandUse use;
};

constexpr std::array<CommandInfo, 4> kCommands{{
    {"get", Command::Get, kGetUse},
    {"set", Command::Set, kSetUse},
    {"provision", Command::Provision, kProvisionUse},
    {"ports", Command::Ports, kPortsUse},
}};

struct OptionInfo {
    std::string_view name;
    std::string_view valueName; // empty for a flag
    unsigned commands;
};

enum OptionIndex {
    kPort,
    kJson,
    kTimeout,
    kRetries,
    kVerbose,
    kIgnoreCheckByte,
    kFrom,
    kVerify,
    kCount,
    kLog
};

constexpr std::array<OptionInfo, 10> kOptions{{
    {"port", "DEVICE", kModuleUse},
    {"json", "", kModuleUse | kPortsUse},
    {"timeout", "MS", kModuleUse},
    {"retries", "N", kModuleUse},
    {"v", "", kModuleUse},
    {"ignore-check-byte", "", kModuleUse},
    {"from", "FILE", kWriteUse},
    {"verify", "", kWriteUse},
    {"count", "N", kProvisionUse},
    {"log", "FILE", kProvisionUse},
}};

QString latin(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QString optionText(const OptionInfo& info) {
    return (info.name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + latin(info.name);
}

struct NumberOption {
    OptionIndex option;
    int min;
    int max;
    int Options::*target;
    const char* rule;
};

constexpr std::array<NumberOption, 3> kNumberOptions{{
    {kTimeout, 1, 600000, &Options::timeoutMs, "--timeout takes milliseconds from 1 to 600000"},
    {kRetries, 0, 100, &Options::retries, "--retries takes a count from 0 to 100"},
    {kCount, 1, 1000000, &Options::count, "--count takes a number of modules from 1 to 1000000"},
}};

constexpr char kCommandWords[] = "get, set, provision or ports";

} // namespace

std::optional<Options> parseCommandLine(const QStringList& arguments, QString& error) {
    QCommandLineParser parser;
    QList<QCommandLineOption> options;
    for (const OptionInfo& info : kOptions)
        options.append(QCommandLineOption(latin(info.name), QString(), latin(info.valueName)));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions(options);
    parser.addOptions({help, version});
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }

    Options result;
    if (parser.isSet(help) || parser.isSet(version)) {
        result.command = parser.isSet(help) ? Command::Help : Command::Version;
        return result;
    }
    result.arguments = parser.positionalArguments();
    if (result.arguments.isEmpty()) {
        error = QStringLiteral("a command is missing: ") + QLatin1String(kCommandWords);
        return std::nullopt;
    }
    const QString word = result.arguments.takeFirst();
    const auto command = std::find_if(kCommands.begin(), kCommands.end(),
                                      [&](const CommandInfo& c) { return word == latin(c.name); });
    if (command == kCommands.end()) {
        error = QStringLiteral("unknown command '%1': %2")
                    .arg(shortened(word), QLatin1String(kCommandWords));
        return std::nullopt;
    }
    result.command = command->command;
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        if (parser.isSet(options[int(i)]) && !(kOptions[i].commands & command->use)) {
            error = QStringLiteral("%1 is not an option of %2").arg(optionText(kOptions[i]), word);
            return std::nullopt;
        }
    }
    if (result.command == Command::Ports && !result.arguments.isEmpty()) {
        error = QStringLiteral("ports takes no arguments");
        return std::nullopt;
    }

    result.ports = parser.values(options[kPort]);
    for (const QString& device : result.ports) {
        if (device.isEmpty()) {
            error = QStringLiteral("--port needs a device, e.g. /dev/ttyUSB0");
            return std::nullopt;
        }
        // Two sessions on one device would only fight over its replies.
        if (result.ports.count(device) > 1) {
            error = QStringLiteral("--port %1 is given twice").arg(shortened(device));
            return std::nullopt;
        }
    }
    result.json = parser.isSet(options[kJson]);
    result.verbose = parser.isSet(options[kVerbose]);
    result.verifyCheckByte = !parser.isSet(options[kIgnoreCheckByte]);
    result.verify = parser.isSet(options[kVerify]);
    result.profilePath = parser.value(options[kFrom]);
    result.logPath = parser.value(options[kLog]);
    if (parser.isSet(options[kLog]) && result.logPath.isEmpty()) {
        error = QStringLiteral("--log needs a file");
        return std::nullopt;
    }
    for (const NumberOption& number : kNumberOptions) {
        if (!parser.isSet(options[number.option]))
            continue;
        bool ok = false;
        const int value = parser.value(options[number.option]).toInt(&ok);
        if (!ok || value < number.min || value > number.max) {
            error = QLatin1String(number.rule);
            return std::nullopt;
        }
        result.*number.target = value;
    }
    return result;
}

QString helpText() {
    return QStringLiteral(R"(Usage:
  kt7720ctl [--port DEVICE]... [--json] [--timeout MS] [--retries N] [-v] get [SETTING]...
  kt7720ctl [--port DEVICE]... [--json] [--timeout MS] [--retries N] [-v] set NAME=VALUE...
            [--from FILE] [--verify]
  kt7720ctl [--port DEVICE]... [--json] [--timeout MS] [--retries N] [-v] provision
            [NAME=VALUE]... [--from FILE] [--verify] [--count N] [--log FILE]
  kt7720ctl ports [--json]
  kt7720ctl --help | --version

Reads and writes the settings of KT7720 868 MHz radio modules on serial ports, at 9600,n,8,1.
Several --port options work on all those modules at once.

Commands:
  get [SETTING]...   Print settings: all (the default), channel, power, frequency, id,
                     datarate, serial (printed as baud and parity).
  set NAME=VALUE...  Write settings and print what the module answered with. NAMEs:
                     channel, power    a number from 0 to 255, rounded half to even
                     frequency         MHz from 855 to 875 (rounded down to a 15/2^19 MHz step)
                     id                plain digits naming 1 to 65535
                     datarate          1200 2400 4800 9600 19200 38400 57600
                     baud              1200 2400 4800 9600 19200 38400 57600 115200
                     parity            n, e or o
                     A lone baud or parity keeps the other as the module has it. The serial
                     settings are written last. Every value is checked before anything is sent.
  provision          A production line: every --port is a fixture. Waits until a module
                     answers (a read of its channel twice a second), writes it as set does,
                     prints one line for it, and waits until it is taken off (two reads
                     without a reply) before the next. A module is written once each time
                     it is put on, also one that failed; one already on at the start counts
                     as put on. After a new baud rate the fixture asks at it until the module
                     is taken off. Runs until SIGINT or SIGTERM (the module being written is
                     then reported as interrupted), or --count; then prints
                     'provisioned N, failed M' on stderr.
  ports              List this computer's serial ports.

Options:
  --port DEVICE        The module's serial device, e.g. /dev/ttyUSB0; repeat for more modules.
                       With several, every output line starts with the device.
  --json               One JSON object per port and line:
                       {"port": ..., "ok": true|false, "values": {...}, "error": ...}
                       provision adds "time", when the module was done (UTC).
  --timeout MS         Wait this long for each reply (default 800).
  --retries N          Send a request again up to N times when no reply came (default 0).
                       A late reply to an earlier send is taken once and its twin dropped.
  -v                   Log every frame sent and received in hex on stderr.
  --ignore-check-byte  Accept replies whatever their check byte holds.
  --from FILE          Take values from a JSON object of NAMEs, or from one line of
                       'get --json' output; NAME=VALUE on the command line wins.
  --verify             Read every written setting back and compare. The module listens at
                       new serial settings as soon as it has answered their write, so they
                       are read back at them; everything else goes at 9600,n,8,1.
  --count N            provision: end after N modules in all.
  --log FILE           provision: append each module's JSON line to FILE, on the disk
                       before the next module is started.
  -h, --help           Show this text.
  --version            Show the version.

Exit status (with several ports, the largest of any port):
  0  all done (and verified)
  1  a module answered with a bad reply, did not take a value, or read back differently,
     or provision was interrupted while writing it
  2  usage error or refused value; nothing was sent
  3  a port could not be opened or was lost, or the output or the log could not be written
  4  no reply within the time-out
)");
}

} // namespace zentrava::cli

#include "cli/plan.h"

#include "core/number_text.h"
#include "core/usage_error.h"
#include "core/value_lists.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMap>

#include <algorithm>

namespace zentrava::cli {

namespace {

// `rule` is set to what the name takes, for the refusal.
using Check = std::optional<ModuleValue> (*)(QStringView text, QString& rule);

template <typename T, std::size_t N>
std::optional<T> listEntry(const CodeList<T, N>& list, QStringView text, QString& rule) {
    rule = QStringLiteral("one of ") + list.texts().join(QStringLiteral(", "));
    return list.fromText(text.toString());
}

std::optional<ModuleValue> checkByte(QStringView text, QString& rule, ModuleValue (*make)(int)) {
    rule = QStringLiteral("a number from 0 to 255");
    const std::optional<std::uint8_t> byte = byteFromText(text);
    return byte ? std::optional(make(*byte)) : std::nullopt;
}

std::optional<ModuleValue> checkChannel(QStringView text, QString& rule) {
    return checkByte(text, rule, &ModuleValue::channel);
}

std::optional<ModuleValue> checkPower(QStringView text, QString& rule) {
    return checkByte(text, rule, &ModuleValue::power);
}

std::optional<ModuleValue> checkFrequency(QStringView text, QString& rule) {
    rule = QStringLiteral("MHz from 855 to 875");
    const std::optional<FrequencyWord> word = frequencyFromText(text);
    return word ? std::optional(ModuleValue::frequencyWord(*word)) : std::nullopt;
}

std::optional<ModuleValue> checkId(QStringView text, QString& rule) {
    rule = QStringLiteral("plain digits naming 1 to 65535");
    const std::optional<std::uint16_t> id = productIdFromText(text);
    return id ? std::optional(ModuleValue::productId(*id)) : std::nullopt;
}

std::optional<ModuleValue> checkDataRate(QStringView text, QString& rule) {
    const std::optional<int> rate = listEntry(kDataRates, text, rule);
    return rate ? std::optional(ModuleValue::dataRate(*rate)) : std::nullopt;
}

std::optional<ModuleValue> checkBaud(QStringView text, QString& rule) {
    const std::optional<int> baud = listEntry(kBaudRates, text, rule);
    return baud ? std::optional(ModuleValue::serial(*baud, '\0')) : std::nullopt;
}

std::optional<ModuleValue> checkParity(QStringView text, QString& rule) {
    const std::optional<char> parity = listEntry(kParities, text, rule);
    return parity ? std::optional(ModuleValue::serial(0, *parity)) : std::nullopt;
}

struct NameRule {
    std::string_view name;
    Check check;
};

// Also the order of the writes; baud and parity make one serial write, which comes last.
constexpr std::array<NameRule, 7> kNameRules{{
    {"channel", checkChannel},
    {"power", checkPower},
    {"frequency", checkFrequency},
    {"id", checkId},
    {"datarate", checkDataRate},
    {"baud", checkBaud},
    {"parity", checkParity},
}};

constexpr std::array<Setting, 6> kReadOrder{Setting::Channel,   Setting::Power,
                                            Setting::Frequency, Setting::ProductId,
                                            Setting::DataRate,  Setting::Serial};

QString latin(std::string_view text) {
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::optional<Plan> readPlan(QStringList names, QString& error) {
    if (names.isEmpty())
        names.append(QStringLiteral("all"));
    std::vector<Setting> settings;
    const auto add = [&settings](Setting setting) {
        if (std::find(settings.begin(), settings.end(), setting) == settings.end())
            settings.push_back(setting);
    };
    for (const QString& name : names) {
        if (name == QLatin1String("all")) {
            std::for_each(kReadOrder.begin(), kReadOrder.end(), add);
            continue;
        }
        const auto info = std::find_if(kSettings.begin(), kSettings.end(),
                                       [&](const SettingInfo& s) { return name == s.name; });
        if (info == kSettings.end()) {
            error = QStringLiteral("unknown setting '%1': all, channel, power, frequency, id, "
                                   "datarate or serial")
                        .arg(shortened(name));
            return std::nullopt;
        }
        add(info->setting);
    }
    Plan plan;
    for (Setting setting : settings)
        plan.push_back({Step::Kind::Read, ModuleValue{setting}});
    return plan;
}

// A get --json line is a profile too: its values are taken.
std::optional<QMap<QString, QString>> readProfile(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        error = QStringLiteral("%1 is not one JSON object: %2")
                    .arg(path, parseError.error ? parseError.errorString()
                                                : QStringLiteral("something else"));
        return std::nullopt;
    }
    QJsonObject values = document.object();
    if (values.contains(QLatin1String("values"))) {
        if (values.value(QLatin1String("ok")) == QJsonValue(false)) {
            error = QStringLiteral("%1 records a failed read, not a profile").arg(path);
            return std::nullopt;
        }
        values = values.value(QLatin1String("values")).toObject();
    }
    QMap<QString, QString> texts;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it->isString()) {
            texts.insert(it.key(), it->toString());
        } else if (it->isDouble()) {
            texts.insert(it.key(),
                         QString::number(it->toDouble(), 'g', QLocale::FloatingPointShortest));
        } else {
            error =
                QStringLiteral("%1: %2 must be a number or a text").arg(path, shortened(it.key()));
            return std::nullopt;
        }
    }
    return texts;
}

std::optional<Plan> writePlan(const Options& options, QString& error) {
    QMap<QString, QString> texts;
    if (!options.profilePath.isEmpty()) {
        const auto profile = readProfile(options.profilePath, error);
        if (!profile)
            return std::nullopt;
        texts = *profile;
    }
    QStringList given;
    for (const QString& argument : options.arguments) {
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = argument.left(equals);
        if (equals <= 0) {
            error = QStringLiteral("'%1' is not NAME=VALUE").arg(shortened(argument));
            return std::nullopt;
        }
        if (given.contains(name)) {
            error = QStringLiteral("%1 is given twice").arg(shortened(name));
            return std::nullopt;
        }
        given.append(name);
        texts.insert(name, argument.mid(equals + 1));
    }
    if (texts.isEmpty()) {
        error = QStringLiteral("%1 needs NAME=VALUE or --from FILE")
                    .arg(QLatin1String(options.command == Command::Set ? "set" : "provision"));
        return std::nullopt;
    }
    for (const QString& name : texts.keys()) {
        if (std::none_of(kNameRules.begin(), kNameRules.end(),
                         [&](const NameRule& rule) { return name == latin(rule.name); })) {
            error = QStringLiteral("unknown name '%1': channel, power, frequency, id, datarate, "
                                   "baud or parity")
                        .arg(shortened(name));
            return std::nullopt;
        }
    }

    std::vector<ModuleValue> values;
    std::optional<ModuleValue> serial;
    for (const NameRule& rule : kNameRules) {
        const QString name = latin(rule.name);
        if (!texts.contains(name))
            continue;
        QString takes;
        const std::optional<ModuleValue> value = rule.check(texts.value(name), takes);
        if (!value) {
            error = QStringLiteral("%1=%2 refused: %1 takes %3")
                        .arg(name, shortened(texts.value(name)), takes);
            return std::nullopt;
        }
        if (value->setting != Setting::Serial) {
            values.push_back(*value);
            continue;
        }
        if (!serial)
            serial = ModuleValue::serial(0, '\0');
        if (value->number != 0)
            serial->number = value->number;
        if (value->parity != '\0')
            serial->parity = value->parity;
    }

    Plan plan;
    if (serial && (serial->number == 0 || serial->parity == '\0'))
        plan.push_back({Step::Kind::KeepSerial, *serial});
    for (const ModuleValue& value : values)
        plan.push_back({Step::Kind::Write, value});
    // Everything else is read back before the module may start listening at a new rate.
    if (options.verify) {
        for (const ModuleValue& value : values)
            plan.push_back({Step::Kind::Verify, value});
    }
    if (serial) {
        plan.push_back({Step::Kind::Write, *serial});
        if (options.verify)
            plan.push_back({Step::Kind::Verify, *serial});
    }
    return plan;
}

} // namespace

std::optional<Plan> makePlan(const Options& options, QString& error) {
    return options.command == Command::Get ? readPlan(options.arguments, error)
                                           : writePlan(options, error);
}

} // namespace zentrava::cli

#include "core/module_value.h"

#include "core/value_lists.h"

namespace zentrava {

namespace {

int byteAt(const QByteArray& bytes, int position) {
    return position < bytes.size() ? static_cast<unsigned char>(bytes[position]) : 0;
}

std::optional<std::uint8_t> byteValue(int number) {
    if (number < 0 || number > 255)
        return std::nullopt;
    return std::uint8_t(number);
}

} // namespace

std::optional<Setting> settingOf(CommandCode code) {
    for (const SettingInfo& info : kSettings) {
        if (code == info.writeCode || code == info.writeCode + 1)
            return info.setting;
    }
    return std::nullopt;
}

bool operator==(const ModuleValue& a, const ModuleValue& b) {
    if (a.setting != b.setting)
        return false;
    switch (a.setting) {
    case Setting::Serial:
        return a.number == b.number && a.parity == b.parity;
    case Setting::Frequency:
        return a.frequency == b.frequency;
    default:
        return a.number == b.number;
    }
}

bool plausible(const ModuleValue& value) {
    return value.setting != Setting::Frequency || inBand(value.megahertz());
}

std::optional<ModuleValue> decodePayload(CommandCode code, const QByteArray& reply) {
    const std::optional<Setting> setting = settingOf(code);
    if (!setting)
        return std::nullopt;
    const int first = byteAt(reply, 8);
    const int second = byteAt(reply, 9);
    switch (*setting) {
    case Setting::Serial: {
        const std::optional<int> baud = kBaudRates.fromCode(first);
        const std::optional<char> parity = kParities.fromCode(second);
        if (!baud || !parity)
            return std::nullopt;
        return ModuleValue::serial(*baud, *parity);
    }
    case Setting::DataRate: {
        const std::optional<int> rate = kDataRates.fromCode(first);
        if (!rate)
            return std::nullopt;
        return ModuleValue::dataRate(*rate);
    }
    case Setting::Channel:
        return ModuleValue::channel(first);
    case Setting::ProductId:
        return ModuleValue::productId(first * 256 + second);
    case Setting::Power:
        return ModuleValue::power(first);
    case Setting::Frequency:
        return ModuleValue::frequencyWord({std::uint8_t(first), std::uint8_t(second),
                                           std::uint8_t(byteAt(reply, 10)),
                                           std::uint8_t(byteAt(reply, 11))});
    }
    return std::nullopt;
}

std::optional<QByteArray> encodePayload(const ModuleValue& value) {
    switch (value.setting) {
    case Setting::Serial: {
        const auto baud = kBaudRates.codeOf(value.number);
        const auto parity = kParities.codeOf(value.parity);
        if (!baud || !parity)
            return std::nullopt;
        return payloadBytes({*baud, *parity});
    }
    case Setting::DataRate:
        if (const auto code = kDataRates.codeOf(value.number))
            return payloadBytes({*code, 0});
        return std::nullopt;
    case Setting::Channel:
    case Setting::Power:
        if (const auto byte = byteValue(value.number))
            return payloadBytes({*byte, 0});
        return std::nullopt;
    case Setting::ProductId:
        if (value.number < 0 || value.number > 65535)
            return std::nullopt;
        return payloadBytes({std::uint8_t(value.number >> 8), std::uint8_t(value.number)});
    case Setting::Frequency:
        return frequencyBytes(value.frequency);
    }
    return std::nullopt;
}

} // namespace zentrava

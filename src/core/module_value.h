#pragma once

#include "core/command_frame.h"
#include "core/frequency.h"

#include <QByteArray>

#include <optional>

namespace zentrava {

// The six things a module holds; each has a write code and, one higher, a read code.
enum class Setting { Serial, DataRate, Channel, ProductId, Power, Frequency };

struct SettingInfo {
    Setting setting;
    CommandCode writeCode;
    const char* name; // as scripts and profiles name it
};

inline constexpr std::array<SettingInfo, 6> kSettings{{
    {Setting::Serial, command::kWriteSerial, "serial"},
    {Setting::DataRate, command::kWriteDataRate, "datarate"},
    {Setting::Channel, command::kWriteChannel, "channel"},
    {Setting::ProductId, command::kWriteId, "id"},
    {Setting::Power, command::kWritePower, "power"},
    {Setting::Frequency, command::kWriteFrequency, "frequency"},
}};

constexpr const SettingInfo& settingInfo(Setting setting) {
    for (const SettingInfo& info : kSettings) {
        if (info.setting == setting)
            return info;
    }
    return kSettings[0];
}

constexpr CommandCode writeCode(Setting setting) {
    return settingInfo(setting).writeCode;
}

constexpr CommandCode readCode(Setting setting) {
    return CommandCode(writeCode(setting) + 1);
}

// The setting a known code writes or reads.
std::optional<Setting> settingOf(CommandCode code);

// A setting's value as the module holds it, in plain numbers.
struct ModuleValue {
    Setting setting = Setting::Channel;
    // Channel, power level, product ID, or the data rate or baud rate in bit/s.
    int number = 0;
    // Serial only: 'n', 'e' or 'o'.
    char parity = 'n';
    // Frequency only: the synthesizer's word, exactly as the module holds it.
    FrequencyWord frequency{};

    static ModuleValue channel(int channel) { return {Setting::Channel, channel}; }
    static ModuleValue power(int level) { return {Setting::Power, level}; }
    static ModuleValue productId(int id) { return {Setting::ProductId, id}; }
    static ModuleValue dataRate(int bitsPerSecond) { return {Setting::DataRate, bitsPerSecond}; }
    static ModuleValue serial(int baudRate, char parity) {
        return {Setting::Serial, baudRate, parity};
    }
    static ModuleValue frequencyWord(const FrequencyWord& word) {
        return {Setting::Frequency, 0, 'n', word};
    }

    double megahertz() const { return decodeFrequency(frequency); }
    friend bool operator==(const ModuleValue& a, const ModuleValue& b);
    friend bool operator!=(const ModuleValue& a, const ModuleValue& b) { return !(a == b); }
};

// The payload of a reply that passed its layout checks, for its code. Empty when a code byte
// names no data rate, baud rate or parity, or the code is unknown.
std::optional<ModuleValue> decodePayload(CommandCode code, const QByteArray& reply);

// The payload that writes `value`; empty when the value has no code on the wire (a rate,
// parity, channel or level the module cannot be told). A rate or parity of 0 names no entry
// and goes out as code 0.
std::optional<QByteArray> encodePayload(const ModuleValue& value);

// False only for a frequency outside the band, which no module holds: a reply claiming one is
// a bad reply.
bool plausible(const ModuleValue& value);

} // namespace zentrava

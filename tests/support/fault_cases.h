#pragma once

#include "core/module_session.h"
#include "emulator/module_model.h"

#include <QByteArray>
#include <QString>
#include <QTest>

namespace zentrava::test {

// How one exchange with a misbehaving module ends.
enum class Ending {
    Accepted,
    Rejected,
    TimedOut,
    LateAccepted, // timed out first, then the reply still counts
    Lost          // the device is gone and the port closed
};

// Every way the emulated module can misbehave, timed against the 800 ms reply time-out.
struct FaultCase {
    const char* name;
    const char* fault; // as kt7720-emu takes it
    Ending ending;
    ModuleSession::Rejection reason = ModuleSession::Rejection::Layout;
    const char* between = ""; // hex bytes that arrive after the exchange, before the next one

    emu::Fault emulatorFault() const {
        return *emu::ModuleModel::parseFault(QString::fromLatin1(fault));
    }
    QByteArray strayBytes() const { return QByteArray::fromHex(between); }
};

inline const FaultCase kFaultCases[] = {
    {"silent", "silent", Ending::TimedOut},
    {"delay short of the time-out", "delay:300", Ending::Accepted},
    {"delay past the time-out", "delay:1200", Ending::LateAccepted},
    {"wrong code", "wrong-code", Ending::Rejected},
    {"bad header", "bad-header", Ending::Rejected},
    {"bad length", "bad-length", Ending::Rejected},
    {"bad terminator", "bad-terminator", Ending::Rejected},
    {"one byte short", "short:1", Ending::TimedOut},
    {"one byte long", "long:1", Ending::Accepted},
    {"two bytes long", "long:2", Ending::Rejected, ModuleSession::Rejection::Overrun},
    {"noise first", "noise:3", Ending::Rejected, ModuleSession::Rejection::Overrun},
    {"quick trickle", "trickle:5", Ending::Accepted},
    // Thirteen bytes 100 ms apart cannot all be in before the time-out.
    {"slow trickle", "trickle:100", Ending::LateAccepted},
    {"paced", "paced", Ending::Accepted},
    {"vanish", "vanish", Ending::Lost},
    // The start of a reply, so the next request must not take it for its own.
    {"stray bytes between exchanges", "none", Ending::Accepted, {}, "afaf0000af00"},
};

inline FrequencyWord frequencyWord(quint32 word) {
    return {std::uint8_t(word >> 24), std::uint8_t(word >> 16), std::uint8_t(word >> 8),
            std::uint8_t(word)};
}

// Makes the emulated module hold `value`, as if it had been written.
inline void hold(emu::ModuleSettings& settings, const ModuleValue& value) {
    switch (value.setting) {
    case Setting::Channel:
        settings.channel = std::uint8_t(value.number);
        break;
    case Setting::Frequency:
        settings.frequency = value.frequency;
        break;
    default:
        qFatal("hold: only the channel and the frequency are used");
    }
}

// One row for each operation with each fault, "read channel: silent", as indices into both.
template <typename Op, std::size_t N> void addFaultRows(const Op (&ops)[N]) {
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("fault");
    for (std::size_t op = 0; op < N; ++op) {
        for (std::size_t fault = 0; fault < std::size(kFaultCases); ++fault)
            QTest::addRow("%s: %s", ops[op].name, kFaultCases[fault].name) << int(op) << int(fault);
    }
}

} // namespace zentrava::test

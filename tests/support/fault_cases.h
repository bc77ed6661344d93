#pragma once

#include "core/module_session.h"
#include "emulator/module_model.h"
#include "support/frames.h"

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

// A read and a write of each frame size, each asked twice: first against the fault, then to
// show the next exchange works. A read finds its value held by the module; a write sends it,
// and in the window the text it then shows is typed.
struct FaultOp {
    const char* name;
    CommandCode code;
    std::array<quint32, 2> values; // channels or frequency words
    std::array<const char*, 2> shown;

    ModuleValue value(int which) const {
        const quint32 v = values[std::size_t(which)];
        return settingOf(code) == Setting::Channel ? ModuleValue::channel(int(v))
                                                   : ModuleValue::frequencyWord(frequencyWord(v));
    }
    // Makes the emulated module hold the value, as if it had been written.
    void hold(emu::ModuleSettings& settings, int which) const {
        const ModuleValue v = value(which);
        if (v.setting == Setting::Channel)
            settings.channel = std::uint8_t(v.number);
        else
            settings.frequency = v.frequency;
    }
};

inline const FaultOp kFaultOps[] = {
    {"read, 13 bytes", command::kReadChannel, {7, 8}, {"7", "8"}},
    {"write, 13 bytes", command::kWriteChannel, {17, 18}, {"17", "18"}},
    {"read, 15 bytes", command::kReadFrequency, {0x3a000000, 0x39000000}, {"870", "855"}},
    {"write, 15 bytes",
     command::kWriteFrequency,
     {0x380eeeee, 0x39080000},
     {"867.999973297119", "870"}},
};

// One row for each operation with each fault, "read, 13 bytes: silent", as indices into both.
inline void addFaultRows() {
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("fault");
    for (std::size_t op = 0; op < std::size(kFaultOps); ++op) {
        for (std::size_t fault = 0; fault < std::size(kFaultCases); ++fault)
            QTest::addRow("%s: %s", kFaultOps[op].name, kFaultCases[fault].name)
                << int(op) << int(fault);
    }
}

} // namespace zentrava::test

#pragma once

#include "core/frequency.h"
#include "core/line_settings.h"
#include "core/module_value.h"

#include <QByteArray>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

namespace zentrava::emu {

// Values are kept exactly as written, including ones outside the module's lists, so every
// decoding path of the tool can be driven from here.
struct ModuleSettings {
    std::uint8_t baudCode = 4;
    std::uint8_t parityCode = 0;
    std::uint8_t dataRateCode = 4;
    std::uint8_t channel = 0;
    std::uint8_t power = 127;
    std::uint16_t id = 1;
    FrequencyWord frequency = {0x38, 0x0E, 0xEE, 0xEE};
};

enum class FaultKind {
    None,
    Silent,
    Delay,
    WrongCode,
    BadHeader,
    BadLength,
    BadTerminator,
    ShortReply,
    LongReply,
    NoiseFirst,
    Trickle,
    Paced,
    Vanish
};

// param <= 0 stands for the fault's default.
struct Fault {
    FaultKind kind = FaultKind::None;
    int param = 0;
};

struct FaultInfo {
    std::string_view name;
    FaultKind kind;
    int defaultParam; // 0: the fault takes no number
    std::string_view help;
};

inline constexpr std::array<FaultInfo, 13> kFaultTable{{
    {"none", FaultKind::None, 0, "answer correctly"},
    {"silent", FaultKind::Silent, 0, "never answer"},
    {"delay", FaultKind::Delay, 1000, "answer N ms after the request came (default 1000)"},
    {"wrong-code", FaultKind::WrongCode, 0, "answer with the command code plus one"},
    {"bad-header", FaultKind::BadHeader, 0, "first byte 00 instead of AF"},
    {"bad-length", FaultKind::BadLength, 0, "length byte 2 and 4 swapped"},
    {"bad-terminator", FaultKind::BadTerminator, 0, "CR replaced by 00"},
    {"short", FaultKind::ShortReply, 1, "drop the last N bytes (default 1)"},
    {"long", FaultKind::LongReply, 2, "append N bytes EE (default 2)"},
    {"noise", FaultKind::NoiseFirst, 3, "send N bytes 55 before the reply (default 3)"},
    {"trickle", FaultKind::Trickle, 5, "send one byte every N ms (default 5)"},
    {"paced", FaultKind::Paced, 0, "send at the line's 9600 baud, about 1.04 ms a byte"},
    {"vanish", FaultKind::Vanish, 0, "close the device instead of answering, like an unplug"},
}};

const FaultInfo& faultInfo(FaultKind kind);

// The number a fault works with, its default filled in.
int faultParam(const Fault& fault);

// The text parseFault() reads back, e.g. "delay:1000".
QString faultText(const Fault& fault);

struct Reply {
    QByteArray request;
    QByteArray bytes; // after byte-level faults; empty when the module stays silent or vanishes
    Fault fault;      // the host times the reply by this
};

class ModuleModel {
public:
    // Bytes as they come off the line; requests may be split or back to back. Malformed
    // requests are dropped without a reply, and so is everything while no module is on.
    std::vector<Reply> feed(const QByteArray& bytes);

    // A fixture on a production line: off, nothing is heard; put on, a fresh module holding
    // `fresh` listens at 9600,n.
    void takeOff();
    void putOn(const ModuleSettings& fresh);
    bool present() const { return m_present; }
    // The baud rate and parity it listens at: 9600,n until it answers a serial write that
    // names a rate and parity of the lists, then those.
    ModuleValue line() const { return m_line; }

    // Bytes given up on while looking for a request since the last call.
    QByteArray takeDiscarded();

    void setFault(Fault fault) { m_standingFault = fault; }
    Fault fault() const { return m_standingFault; }
    // Only for the next answered request; queued faults are used up in order before the
    // standing one applies again.
    void queueFault(Fault fault) { m_queuedFaults.push_back(fault); }

    ModuleSettings& settings() { return m_settings; }
    const ModuleSettings& settings() const { return m_settings; }

    // "name" or "name:N" from kFaultTable; N only for faults that take one, 1 .. 600000.
    static std::optional<Fault> parseFault(QStringView text);
    static QStringList faultNames();

private:
    Reply answer(const QByteArray& request);
    QByteArray heldPayload(int code) const;
    void store(int code, const QByteArray& payload);

    ModuleSettings m_settings;
    QByteArray m_buffer;
    QByteArray m_discarded;
    Fault m_standingFault;
    std::deque<Fault> m_queuedFaults;
    bool m_present = true;
    ModuleValue m_line = freshLine();

    static ModuleValue freshLine() { return ModuleValue::serial(kModuleBaudRate, 'n'); }
};

} // namespace zentrava::emu

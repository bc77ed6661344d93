#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <initializer_list>

namespace zentrava {

using CommandCode = std::uint8_t;

// Odd codes write a setting, the next even code reads it back.
namespace command {
inline constexpr CommandCode kWriteSerial = 1;
inline constexpr CommandCode kReadSerial = 2;
inline constexpr CommandCode kWriteDataRate = 3;
inline constexpr CommandCode kReadDataRate = 4;
inline constexpr CommandCode kWriteChannel = 5;
inline constexpr CommandCode kReadChannel = 6;
inline constexpr CommandCode kWriteId = 9;
inline constexpr CommandCode kReadId = 10;
inline constexpr CommandCode kWritePower = 11;
inline constexpr CommandCode kReadPower = 12;
inline constexpr CommandCode kWriteFrequency = 13;
inline constexpr CommandCode kReadFrequency = 14;
} // namespace command

struct CommandInfo {
    CommandCode code;
    std::uint8_t payloadLength;
};

inline constexpr std::array<CommandInfo, 12> kCommandTable{{
    {command::kWriteSerial, 2},
    {command::kReadSerial, 2},
    {command::kWriteDataRate, 2},
    {command::kReadDataRate, 2},
    {command::kWriteChannel, 2},
    {command::kReadChannel, 2},
    {command::kWriteId, 2},
    {command::kReadId, 2},
    {command::kWritePower, 2},
    {command::kReadPower, 2},
    {command::kWriteFrequency, 4},
    {command::kReadFrequency, 4},
}};

inline constexpr std::array<std::uint8_t, 5> kFrameHeader{0xAF, 0xAF, 0x00, 0x00, 0xAF};
inline constexpr std::uint8_t kRequestMarker = 0x80;
inline constexpr std::uint8_t kReplyMarker = 0x00;
inline constexpr std::uint8_t kCarriageReturn = 0x0D;
inline constexpr std::uint8_t kLineFeed = 0x0A;

constexpr const CommandInfo* findCommand(int code) {
    for (const CommandInfo& info : kCommandTable) {
        if (info.code == code)
            return &info;
    }
    return nullptr;
}

constexpr bool isKnownCommand(int code) {
    return findCommand(code) != nullptr;
}

// Codes outside the table never reach the wire; 2 keeps the frame well formed anyway.
constexpr int payloadLength(int code) {
    const CommandInfo* info = findCommand(code);
    return info ? info->payloadLength : 2;
}

constexpr int frameLength(int code) {
    return 11 + payloadLength(code);
}

// Sum of the bytes before the check byte, modulo 256. Requests and replies share the rule.
std::uint8_t frameChecksum(const QByteArray& frame, int payloadLength);

// Payload bytes in order. (QByteArray{a, b} would mean "a copies of b".)
inline QByteArray payloadBytes(std::initializer_list<std::uint8_t> bytes) {
    QByteArray payload;
    for (std::uint8_t byte : bytes)
        payload.append(char(byte));
    return payload;
}

// Frames as an operator reads them: "AF AF 00 ...".
inline QString hexText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Local time of day, "HH:mm:ss.zzz", as frames are stamped in logs and the window's tooltip.
QString frameTimeStamp();

// "HH:mm:ss.zzz <direction> AF AF ...": a frame as the programs log it.
QString frameLogLine(const char* direction, const QByteArray& frame);

// The request frame for a code. Missing payload bytes are zero, surplus ones are ignored.
QByteArray buildCommandFrame(CommandCode code, const QByteArray& payload = {});

} // namespace zentrava

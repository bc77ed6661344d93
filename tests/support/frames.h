#pragma once

#include "core/command_frame.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace zentrava::test {

inline QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// A reply as the module sends it; `checkByteError` is added to its check byte.
inline QByteArray replyFrame(int code, const QByteArray& payload, int checkByteError = 0) {
    const QByteArray bytes = hex("afaf0000af00") + char(code) + char(payload.size()) + payload;
    std::uint8_t sum = std::uint8_t(checkByteError);
    for (const char byte : bytes)
        sum = std::uint8_t(sum + std::uint8_t(byte));
    return bytes + char(sum) + hex("0d0a");
}

// The command codes of requests sent back to back, as a module heard them.
inline QList<int> requestCodes(const QByteArray& wire) {
    QList<int> codes;
    for (qsizetype i = 0; i + 7 < wire.size(); i += frameLength(codes.last()))
        codes << quint8(wire.at(i + 6));
    return codes;
}

} // namespace zentrava::test

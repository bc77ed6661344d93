#include "command_frame.h"

#include <QTime>

namespace zentrava {

std::uint8_t frameChecksum(const QByteArray& frame, int payloadLength) {
    unsigned sum = 0;
    const int end = 8 + payloadLength;
    for (int i = 0; i < end && i < frame.size(); ++i)
        sum += static_cast<std::uint8_t>(frame[i]);
    return static_cast<std::uint8_t>(sum % 256);
}

QString frameTimeStamp() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString frameLogLine(const char* direction, const QByteArray& frame) {
    return QStringLiteral("%1 %2 %3")
        .arg(frameTimeStamp(), QLatin1String(direction), hexText(frame));
}

QByteArray buildCommandFrame(CommandCode code, const QByteArray& payload) {
    const int n = payloadLength(code);
    QByteArray frame(11 + n, '\0');
    for (int i = 0; i < int(kFrameHeader.size()); ++i)
        frame[i] = char(kFrameHeader[i]);
    frame[5] = char(kRequestMarker);
    frame[6] = char(code);
    frame[7] = char(n);
    for (int i = 0; i < n && i < payload.size(); ++i)
        frame[8 + i] = payload[i];
    frame[8 + n] = char(frameChecksum(frame, n));
    frame[9 + n] = char(kCarriageReturn);
    frame[10 + n] = char(kLineFeed);
    return frame;
}

} // namespace zentrava

#include "reply_frame.h"

#include "core/command_frame.h"

namespace zentrava {

namespace {
int byteAt(const QByteArray& buffer, int position) {
    return position < buffer.size() ? static_cast<unsigned char>(buffer[position]) : -1;
}
} // namespace

bool replyLayoutValid(const QByteArray& replyBuffer, int pendingCommand) {
    const int n = payloadLength(pendingCommand);
    // Every check is evaluated; a reply either passes as a whole or fails as a whole.
    bool ok = true;
    for (int i = 0; i < int(kFrameHeader.size()); ++i)
        ok &= byteAt(replyBuffer, i) == kFrameHeader[i];
    ok &= byteAt(replyBuffer, 5) == kReplyMarker;
    ok &= byteAt(replyBuffer, 6) == pendingCommand;
    ok &= byteAt(replyBuffer, 7) == n;
    ok &= byteAt(replyBuffer, 9 + n) == kCarriageReturn;
    ok &= byteAt(replyBuffer, 10 + n) == kLineFeed;
    return ok;
}

} // namespace zentrava

#pragma once

#include <QByteArray>

namespace zentrava {

// The ten fixed positions of a reply for the pending code: header, marker, code, length and
// the CR LF terminator. The check byte is deliberately not looked at.
bool replyLayoutValid(const QByteArray& replyBuffer, int pendingCommand);

} // namespace zentrava

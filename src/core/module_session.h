#pragma once

#include "core/module_value.h"
#include "core/serial_link.h"

#include <QByteArray>
#include <QObject>

#include <array>

class QTimer;

namespace zentrava {

// One module on one serial link: one request at a time, reception by the reply's length, the
// reply checks, and decoding into a typed value. Opening and closing the link is the client's.
class ModuleSession : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultTimeoutMs = 800;
    // Gives `timer` the reply time, never fired early: a coarse timer may fire up to 5 % before
    // its interval and call a reply that came in time late.
    static void setUpReplyTimer(QTimer& timer, int ms = kDefaultTimeoutMs);

    enum class Rejection {
        Layout,      // header, marker, code, length or terminator wrong
        CheckByte,   // only when check bytes are verified
        Overrun,     // more bytes than a reply can have
        ReadFailed,  // the link could not be read
        UnknownValue // the payload names no data rate, baud rate or parity
    };
    Q_ENUM(Rejection)

    explicit ModuleSession(SerialLink& link, QObject* parent = nullptr);

    // 0: no reply timer here; the client keeps time itself.
    void setTimeout(int ms);
    // Off by default: the window accepts any check byte, and a module may fill it its own way.
    void setCheckByteVerified(bool verified) { m_verifyCheckByte = verified; }

    // Input still waiting from before is stale and dropped; then reception is armed for the
    // reply's length, the frame written and the reply timer started. Returns 0, or the link's
    // failure code, in which case nothing is awaited.
    // A request sent while an earlier one is still unanswered (a retry after a time-out, or
    // anything after one) leaves that earlier reply owed: the module may still send it. When it
    // comes it is dropped, never taken for the answer to what is asked now; a retry takes the
    // first good reply to either send and drops its twin.
    int request(CommandCode code, const QByteArray& payload = {});

    // The code whose reply is awaited: set by a request, kept after a time-out (a late reply
    // still counts), 0 once a reply was accepted or rejected.
    CommandCode pending() const { return m_pending; }
    // One byte longer than the awaited reply, zero-filled by each request, then the reply.
    const QByteArray& replyBuffer() const { return m_replyBuffer; }
    const QByteArray& lastRequest() const { return m_lastRequest; }
    // Every byte the last reception read, as it came.
    const QByteArray& lastReply() const { return m_lastReply; }

Q_SIGNALS:
    void accepted(zentrava::CommandCode code, const zentrava::ModuleValue& value);
    void rejected(zentrava::CommandCode code, zentrava::ModuleSession::Rejection reason);
    // The reply can still come: it is then accepted or rejected until the next request.
    void timedOut(zentrava::CommandCode code);
    // The link closed underneath; nothing more is awaited.
    void deviceLost();
    // A whole reply to an earlier request came while another was awaited, and went unused.
    void lateReplyDropped(const QByteArray& frame);

private:
    void onComm();
    void onTimeout();
    void onDeviceLost();
    void finish(CommandCode code, Rejection reason);
    // Takes whole late replies off the front of `input`; the bytes still to wait for before
    // the rest can be judged, 0 when it is to be judged now.
    int bytesStillComing(QByteArray& input);

    SerialLink& m_link;
    QTimer* m_timer = nullptr;
    int m_timeoutMs = kDefaultTimeoutMs;
    bool m_verifyCheckByte = false;
    CommandCode m_pending = 0;
    QByteArray m_replyBuffer;
    QByteArray m_lastRequest;
    QByteArray m_lastReply;
    // Replies still owed, by code. A surplus only means that a stray, well-formed reply to an
    // earlier code is dropped rather than rejected, which no awaited reply can be anyway.
    std::array<int, 16> m_owed{};
    // Bytes kept after a late reply, while the rest of the awaited one is still on its way.
    QByteArray m_received;
};

} // namespace zentrava

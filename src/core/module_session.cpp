#include "core/module_session.h"

#include "core/reply_frame.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace zentrava {

ModuleSession::ModuleSession(SerialLink& link, QObject* parent)
    : QObject(parent), m_link(link), m_timer(new QTimer(this)) {
    m_timer->setSingleShot(true);
    setUpReplyTimer(*m_timer, m_timeoutMs);
    connect(m_timer, &QTimer::timeout, this, &ModuleSession::onTimeout);
    connect(&m_link, &SerialLink::OnComm, this, &ModuleSession::onComm);
    connect(&m_link, &SerialLink::deviceLost, this, &ModuleSession::onDeviceLost);
}

void ModuleSession::setUpReplyTimer(QTimer& timer, int ms) {
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(ms);
}

void ModuleSession::setTimeout(int ms) {
    m_timeoutMs = std::max(0, ms);
    m_timer->setInterval(m_timeoutMs);
    if (m_timeoutMs == 0)
        m_timer->stop();
}

int ModuleSession::request(CommandCode code, const QByteArray& payload) {
    const QByteArray frame = buildCommandFrame(code, payload);
    if (isKnownCommand(m_pending))
        ++m_owed[m_pending];
    m_pending = code;
    m_received.clear();
    m_replyBuffer = QByteArray(frame.size() + 1, '\0');
    // Whatever is waiting now answers nothing we are about to ask: a stray byte or a reply
    // that came too late would otherwise be read as the start of this one.
    m_link.setInBufferCount(0);
    m_link.setRThreshold(int(frame.size()));
    if (const int error = m_link.output(frame)) {
        m_pending = 0;
        m_link.setRThreshold(0);
        m_timer->stop();
        return error;
    }
    m_lastRequest = frame;
    if (m_timeoutMs > 0)
        m_timer->start();
    return 0;
}

void ModuleSession::onComm() {
    if (m_link.commEvent() != SerialLink::kEventReceive)
        return;
    m_link.setInputLen(0);
    QByteArray input;
    const int readError = m_link.input(input);
    m_link.setRThreshold(0);
    const CommandCode code = m_pending;
    if (!isKnownCommand(code)) {
        m_lastReply = input;
        return;
    }
    input.prepend(std::exchange(m_received, {}));
    if (const int missing = readError == 0 ? bytesStillComing(input) : 0) {
        m_received = input;
        m_link.setRThreshold(missing);
        return;
    }
    m_lastReply = input;
    m_timer->stop();
    if (readError != 0)
        return finish(code, Rejection::ReadFailed);
    // More than the buffer holds (replies back to back, noise first) is no reply to trust.
    if (input.size() > m_replyBuffer.size())
        return finish(code, Rejection::Overrun);
    std::copy(input.cbegin(), input.cend(), m_replyBuffer.begin());
    if (!replyLayoutValid(m_replyBuffer, code))
        return finish(code, Rejection::Layout);
    const int n = payloadLength(code);
    if (m_verifyCheckByte &&
        std::uint8_t(m_replyBuffer.at(8 + n)) != frameChecksum(m_replyBuffer, n))
        return finish(code, Rejection::CheckByte);
    const std::optional<ModuleValue> value = decodePayload(code, m_replyBuffer);
    if (!value)
        return finish(code, Rejection::UnknownValue);
    m_pending = 0;
    Q_EMIT accepted(code, *value);
}

int ModuleSession::bytesStillComing(QByteArray& input) {
    bool dropped = false;
    while (input.size() >= 8) {
        const int code = std::uint8_t(input.at(6));
        if (code == m_pending || !isKnownCommand(code) || m_owed[std::size_t(code)] == 0)
            break;
        QByteArray head = buildCommandFrame(CommandCode(code)).left(8);
        head[5] = char(kReplyMarker);
        if (!input.startsWith(head))
            break;
        const int length = frameLength(code);
        if (input.size() < length)
            return length - int(input.size());
        const QByteArray late = input.left(length);
        if (!replyLayoutValid(late, code))
            break;
        --m_owed[std::size_t(code)];
        input.remove(0, length);
        dropped = true;
        Q_EMIT lateReplyDropped(late);
    }
    // The awaited reply may be right behind the late ones.
    const int missing = frameLength(m_pending) - int(input.size());
    return dropped && missing > 0 ? missing : 0;
}

void ModuleSession::finish(CommandCode code, Rejection reason) {
    m_pending = 0;
    Q_EMIT rejected(code, reason);
}

void ModuleSession::onTimeout() {
    if (isKnownCommand(m_pending))
        Q_EMIT timedOut(m_pending);
}

void ModuleSession::onDeviceLost() {
    m_timer->stop();
    m_pending = 0;
    Q_EMIT deviceLost();
}

} // namespace zentrava

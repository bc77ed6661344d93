// Line bytes through the session's real reception, checks and decoding: the one place where
// untrusted bytes enter. The input picks the request, how its reply arrives in chunks, and
// whether check bytes are verified.
#include "core/module_session.h"
#include "core/reply_frame.h"
#include "tests/support/scripted_link.h"

#include <cstdlib>

using namespace zentrava;

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_pos >= m_size; }
    std::uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    QByteArray bytes(std::size_t count) {
        count = std::min(count, m_size - std::min(m_pos, m_size));
        QByteArray out(reinterpret_cast<const char*>(m_data + m_pos), qsizetype(count));
        m_pos += count;
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

void check(bool condition) {
    if (!condition)
        std::abort();
}

// An accepted value is exactly what the reply's payload names.
void checkValue(CommandCode code, const ModuleValue& value, const QByteArray& reply) {
    check(replyLayoutValid(reply, code));
    check(settingOf(code) == value.setting);
    const std::optional<QByteArray> payload = encodePayload(value);
    check(payload.has_value());
    const QByteArray sent = reply.mid(8, payloadLength(code));
    if (value.setting == Setting::Channel || value.setting == Setting::Power ||
        value.setting == Setting::DataRate)
        check(payload->at(0) == sent.at(0)); // the second byte is not looked at
    else
        check(*payload == sent);
}

} // namespace

// A session afresh for each input, so that an input replays alone exactly as it ran; the
// link lives for the whole run, as the tool's does.
struct Harness {
    explicit Harness(test::ScriptedLink& link) : session(link) {
        session.setTimeout(0);
        QObject::connect(&session, &ModuleSession::accepted,
                         [this](CommandCode code, const ModuleValue& value) {
                             ++outcomes;
                             answered = code;
                             checkValue(code, value, session.replyBuffer());
                             check(session.pending() == 0);
                         });
        QObject::connect(&session, &ModuleSession::rejected, [this](CommandCode code) {
            ++outcomes;
            answered = code;
            check(session.pending() == 0);
        });
        // Only a whole, well-formed reply to a request left unanswered may be dropped.
        QObject::connect(&session, &ModuleSession::lateReplyDropped,
                         [this](const QByteArray& late) {
                             const CommandCode code = CommandCode(std::uint8_t(late.at(6)));
                             check(unanswered.contains(code) && code != session.pending());
                             check(replyLayoutValid(late, code));
                             unanswered.removeOne(code);
                             ++dropped;
                         });
    }
    ModuleSession session;
    int outcomes = 0;
    CommandCode answered = 0;
    QList<CommandCode> unanswered;
    int dropped = 0;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static test::ScriptedLink link;
    if (!link.portOpen()) {
        link.openablePorts = {1};
        link.setPortOpen(true);
    }
    // The scripted link keeps every frame written.
    link.written.clear();
    link.waiting.clear();
    Harness harness(link);
    ModuleSession& session = harness.session;
    int& outcomes = harness.outcomes;
    Input input(data, size);
    session.setCheckByteVerified(input.byte() & 1);

    while (!input.empty()) {
        const CommandCode code = kCommandTable[input.byte() % kCommandTable.size()].code;
        outcomes = 0;
        harness.dropped = 0;
        check(session.request(code, input.bytes(std::size_t(payloadLength(code)))) == 0);
        const int threshold = link.rThreshold();
        check(threshold == frameLength(code));
        // Chunks arrive until the threshold is met, as the link would notify.
        int arrived = 0;
        for (int chunks = input.byte() % 4 + 1; chunks > 0 && outcomes == 0; --chunks) {
            const QByteArray chunk = input.bytes(input.byte() % 24);
            link.waiting += chunk;
            arrived += int(chunk.size());
            if (arrived >= threshold)
                link.raiseReceive();
        }
        check(outcomes <= (arrived >= threshold ? 1 : 0));
        // A full reply ends the request, unless a late reply to an earlier one, whole or in part,
        // stands before it: the session then waits for the rest.
        check(outcomes == 1 || arrived < threshold ||
              (link.rThreshold() > 0 && (harness.dropped > 0 || !harness.unanswered.isEmpty())));
        check(outcomes == 0 || harness.answered == code);
        check(outcomes == 1 || session.pending() == code);
        if (outcomes == 0)
            harness.unanswered.append(code);
        // Nothing more may come of this request, whatever arrives after it was answered.
        if (outcomes == 1) {
            link.waiting += input.bytes(input.byte() % 8);
            link.raiseReceive();
            check(outcomes == 1);
        }
    }
    return 0;
}

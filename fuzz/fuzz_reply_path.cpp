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

// One link and session for the whole run, as in the tool: each request starts afresh.
struct Harness {
    Harness() : session(link) {
        link.openablePorts = {1};
        link.setPortOpen(true);
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
    }
    test::ScriptedLink link;
    ModuleSession session;
    int outcomes = 0;
    CommandCode answered = 0;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    test::ScriptedLink& link = harness.link;
    ModuleSession& session = harness.session;
    int& outcomes = harness.outcomes;
    const CommandCode& answered = harness.answered;
    Input input(data, size);
    // The scripted link keeps every frame written; the harness lives for the whole run.
    link.written.clear();
    session.setCheckByteVerified(input.byte() & 1);

    while (!input.empty()) {
        const CommandCode code = kCommandTable[input.byte() % kCommandTable.size()].code;
        outcomes = 0;
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
        check(outcomes == (arrived >= threshold ? 1 : 0));
        check(outcomes == 0 || answered == code);
        check(outcomes == 1 || session.pending() == code);
        // Nothing more may come of this request, whatever arrives after it was answered.
        if (outcomes == 1) {
            link.waiting += input.bytes(input.byte() % 8);
            link.raiseReceive();
            check(outcomes == 1);
        }
    }
    return 0;
}

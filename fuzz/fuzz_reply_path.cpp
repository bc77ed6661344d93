// Line bytes through the session's reception, checks and decoding: the input picks the request,
// the chunks its reply arrives in, and whether check bytes are verified.
#include "core/module_session.h"
#include "core/reply_frame.h"
#include "tests/support/scripted_link.h"

#include <cstdlib>

using namespace zentrava;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// A session afresh for each input, so that an input replays alone exactly as it ran.
struct Harness {
    ModuleSession session;
    int outcomes = 0;
    int dropped = 0;
    CommandCode answered = 0;
    QList<CommandCode> unanswered;

    explicit Harness(test::ScriptedLink& link) : session(link) {
        session.setTimeout(0);
        QObject::connect(&session, &ModuleSession::accepted,
                         [this](CommandCode code, const ModuleValue& value) {
                             outcome(code);
                             // Its reply's payload; a one-byte value's second byte is unread.
                             const std::optional<QByteArray> payload = encodePayload(value);
                             check(settingOf(code) == value.setting && payload.has_value());
                             const qsizetype n = value.setting == Setting::Channel ||
                                                         value.setting == Setting::Power ||
                                                         value.setting == Setting::DataRate
                                                     ? 1
                                                     : payloadLength(code);
                             check(payload->left(n) == session.replyBuffer().mid(8, n));
                         });
        QObject::connect(&session, &ModuleSession::rejected,
                         [this](CommandCode code) { outcome(code); });
        // Only a whole, well-formed reply to a request left unanswered may be dropped.
        QObject::connect(&session, &ModuleSession::lateReplyDropped,
                         [this](const QByteArray& late) {
                             const CommandCode code = CommandCode(std::uint8_t(late.at(6)));
                             check(unanswered.removeOne(code) && code != session.pending());
                             check(replyLayoutValid(late, code));
                             ++dropped;
                         });
    }
    void outcome(CommandCode code) {
        ++outcomes;
        answered = code;
        check(session.pending() == 0);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static test::ScriptedLink link;
    link.openablePorts = {1};
    link.setPortOpen(true);
    std::size_t pos = 0;
    const auto byte = [&] { return pos < size ? data[pos++] : std::uint8_t(0); };
    const auto bytes = [&](std::size_t count) {
        count = std::min(count, size - std::min(pos, size));
        pos += count;
        return QByteArray(reinterpret_cast<const char*>(data + pos - count), qsizetype(count));
    };
    link.written.clear(); // it keeps every frame written
    link.waiting.clear();
    Harness h(link);
    h.session.setCheckByteVerified(byte() & 1);

    while (pos < size) {
        const CommandCode code = kCommandTable[byte() % kCommandTable.size()].code;
        h.outcomes = h.dropped = 0;
        check(h.session.request(code, bytes(std::size_t(payloadLength(code)))) == 0);
        const int threshold = link.rThreshold();
        check(threshold == frameLength(code));
        // Chunks arrive until the threshold is met, as the link would notify.
        int arrived = 0;
        for (int chunks = byte() % 4 + 1; chunks > 0 && h.outcomes == 0; --chunks) {
            const QByteArray chunk = bytes(byte() % 24);
            link.waiting += chunk;
            arrived += int(chunk.size());
            if (arrived >= threshold)
                link.raiseReceive();
        }
        // A full reply ends the request, unless a late reply to an earlier one, whole or in part,
        // stands before it: the session then waits for the rest.
        check(h.outcomes <= (arrived >= threshold ? 1 : 0));
        check(h.outcomes == 1 || arrived < threshold ||
              (link.rThreshold() > 0 && (h.dropped > 0 || !h.unanswered.isEmpty())));
        check(h.outcomes == 0 ? h.session.pending() == code : h.answered == code);
        if (h.outcomes == 0)
            h.unanswered.append(code);
        // Nothing more may come of this request, whatever arrives after it was answered.
        if (h.outcomes == 1) {
            link.waiting += bytes(byte() % 8);
            link.raiseReceive();
            check(h.outcomes == 1);
        }
    }
    return 0;
}

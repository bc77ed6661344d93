// Line bytes through the session's reception: the input picks the request, the chunks its reply
// arrives in, and whether check bytes are verified.
#include "core/module_session.h"
#include "tests/support/scripted_link.h"

#include <cstdlib>

using namespace zentrava;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// One link and session for the whole run, as in the tool: each request starts afresh.
struct Harness {
    test::ScriptedLink link;
    ModuleSession session{link};
    int outcomes = 0;
    CommandCode answered = 0;

    Harness() {
        link.openablePorts = {1};
        link.setPortOpen(true);
        session.setTimeout(0);
        // That an accepted value is its reply's payload, tst_protocol and tst_session hold.
        QObject::connect(&session, &ModuleSession::accepted,
                         [this](CommandCode code) { outcome(code); });
        QObject::connect(&session, &ModuleSession::rejected,
                         [this](CommandCode code) { outcome(code); });
    }
    void outcome(CommandCode code) {
        ++outcomes;
        answered = code;
        check(session.pending() == 0);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness h;
    std::size_t pos = 0;
    const auto byte = [&] { return pos < size ? data[pos++] : std::uint8_t(0); };
    const auto bytes = [&](std::size_t count) {
        count = std::min(count, size - std::min(pos, size));
        pos += count;
        return QByteArray(reinterpret_cast<const char*>(data + pos - count), qsizetype(count));
    };
    // The scripted link keeps every frame written; the harness lives for the whole run.
    h.link.written.clear();
    h.session.setCheckByteVerified(byte() & 1);

    while (pos < size) {
        const CommandCode code = kCommandTable[byte() % kCommandTable.size()].code;
        h.outcomes = 0;
        check(h.session.request(code, bytes(std::size_t(payloadLength(code)))) == 0);
        const int threshold = h.link.rThreshold();
        check(threshold == frameLength(code));
        // Chunks arrive until the threshold is met, as the link would notify.
        int arrived = 0;
        for (int chunks = byte() % 4 + 1; chunks > 0 && h.outcomes == 0; --chunks) {
            const QByteArray chunk = bytes(byte() % 24);
            h.link.waiting += chunk;
            arrived += int(chunk.size());
            if (arrived >= threshold)
                h.link.raiseReceive();
        }
        check(h.outcomes == (arrived >= threshold ? 1 : 0));
        check(h.outcomes == 0 || h.answered == code);
        check(h.outcomes == 1 || h.session.pending() == code);
        // Nothing more may come of this request, whatever arrives after it was answered.
        if (h.outcomes == 1) {
            h.link.waiting += bytes(byte() % 8);
            h.link.raiseReceive();
            check(h.outcomes == 1);
        }
    }
    return 0;
}

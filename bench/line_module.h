// A module for the benchmarks on a pseudo-terminal, answering from its own thread, at once or at
// the pace of the 9600 8N1 line, for zentrava-bench-exchange.
#pragma once

#include "core/line_settings.h"
#include "emulator/module_model.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace zentrava::bench {

// CLOCK_MONOTONIC in nanoseconds; the clients and the harness stamp with the same clock.
std::int64_t monotonicNs();

// A pty never takes its time: a request arrives whole and a reply is read as soon as it is
// written. Paced, the module makes up for both with absolute deadlines. The request counts as
// arriving a byte time apart from the moment its first byte is read; the reply's k-th byte is
// written k byte times after the request's last byte was due. An ideal client thus reads the
// last reply byte exactly (request + reply) byte times after it wrote the first request byte.
class LineModule {
public:
    enum class Pace { Immediate, Wire };

    struct Exchange {
        std::uint64_t serial = 0; // 1 for the first one answered
        std::int64_t firstByteNs = 0;
        std::int64_t lastReplyNs = 0;
    };

    LineModule();
    ~LineModule();
    LineModule(const LineModule&) = delete;
    LineModule& operator=(const LineModule&) = delete;

    // Opens the pseudo-terminal and starts answering; false with `error` set when it cannot.
    bool open(QString* error);
    const std::string& devicePath() const { return m_devicePath; }

    void setPace(Pace pace) { m_pace.store(pace); }
    // Whether the answering thread got real-time scheduling (root or CAP_SYS_NICE).
    bool realTime() const { return m_realTime.load(); }

    // Requests answered so far.
    std::uint64_t served() const;
    // The reply may still be on its way out when the client has it; waits for the record.
    bool waitServed(std::uint64_t count, int timeoutMs) const;
    Exchange lastExchange() const;

private:
    void run();
    void answer(const QByteArray& reply, int requestLength, std::int64_t firstByteNs);

    int m_master = -1;
    int m_heldSlave = -1;
    int m_wake[2] = {-1, -1};
    std::string m_devicePath;
    std::atomic<Pace> m_pace{Pace::Immediate};
    std::atomic<bool> m_realTime{false};
    emu::ModuleModel m_model; // the module thread's alone
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_servedChanged;
    Exchange m_last;
};

} // namespace zentrava::bench

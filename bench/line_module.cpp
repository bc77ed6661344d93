// A module for the benchmarks on a pseudo-terminal, answering from its own thread, at once or at
// the pace of the 9600 8N1 line, for zentrava-bench-exchange.
#include "line_module.h"

#include "emulator/pty_host.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace zentrava::bench {

namespace {

// Sleeping wakes some tens of microseconds late on a busy machine; the rest is spun.
constexpr std::int64_t kSpinNs = 150000;

timespec toTimespec(std::int64_t ns) {
    timespec ts{};
    ts.tv_sec = time_t(ns / 1000000000LL);
    ts.tv_nsec = long(ns % 1000000000LL);
    return ts;
}

void sleepUntil(std::int64_t dueNs) {
    const timespec wake = toTimespec(dueNs - kSpinNs);
    if (dueNs - kSpinNs > monotonicNs()) {
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
        }
    }
    while (monotonicNs() < dueNs) {
    }
}

void writeAll(int fd, const char* bytes, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        bytes += n;
        length -= std::size_t(n);
    }
}

} // namespace

std::int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

LineModule::LineModule() = default;

LineModule::~LineModule() {
    if (m_thread.joinable()) {
        const char byte = 1;
        while (::write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    for (int fd : {m_master, m_heldSlave, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool LineModule::open(QString* error) {
    emu::RawPty pty;
    if (m_master >= 0 || ::pipe2(m_wake, O_CLOEXEC) != 0 || !emu::openRawPty(pty, error))
        return false;
    m_master = pty.master;
    // Without an open slave the master polls as hung up whenever no client has the device.
    m_heldSlave = pty.slave;
    m_devicePath = pty.devicePath.toStdString();
    m_thread = std::thread([this] { run(); });
    return true;
}

std::uint64_t LineModule::served() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last.serial;
}

bool LineModule::waitServed(std::uint64_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_servedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_last.serial >= count; });
}

LineModule::Exchange LineModule::lastExchange() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

void LineModule::run() {
    // The default slack of 50 us would be spun away on every byte.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // A busy machine can keep an ordinary thread from waking for a tenth of a millisecond, which
    // would shift every deadline after it. Only where allowed; realTime() tells.
    sched_param param{};
    param.sched_priority = ::sched_get_priority_min(SCHED_FIFO);
    m_realTime.store(::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0);
    pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    std::int64_t firstByteNs = 0;
    char buffer[4096];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        const std::int64_t stamp = monotonicNs();
        if (fds[1].revents != 0)
            return;
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            // Nothing sensible to do about a broken master but not spin on it.
            ::usleep(10000);
            continue;
        }
        if (firstByteNs == 0)
            firstByteNs = stamp;
        const std::vector<emu::Reply> replies = m_model.feed(QByteArray(buffer, int(n)));
        m_model.takeDiscarded();
        for (const emu::Reply& reply : replies) {
            if (!reply.bytes.isEmpty())
                answer(reply.bytes, int(reply.request.size()), firstByteNs);
            // Back-to-back requests: the next one starts once this reply is out.
            firstByteNs = monotonicNs();
        }
        if (!replies.empty())
            firstByteNs = 0;
    }
}

void LineModule::answer(const QByteArray& reply, int requestLength, std::int64_t firstByteNs) {
    Exchange done;
    done.firstByteNs = firstByteNs;
    if (m_pace.load() == Pace::Immediate) {
        writeAll(m_master, reply.constData(), std::size_t(reply.size()));
    } else {
        // A request written slowly by its client cannot be answered before it is all in.
        const std::int64_t start = std::max(firstByteNs + lineTimeNs(requestLength), monotonicNs());
        for (int k = 0; k < reply.size(); ++k) {
            sleepUntil(start + lineTimeNs(k + 1));
            writeAll(m_master, reply.constData() + k, 1);
        }
    }
    done.lastReplyNs = monotonicNs();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        done.serial = m_last.serial + 1;
        m_last = done;
    }
    m_servedChanged.notify_all();
}

} // namespace zentrava::bench

#include "emulator/pty_host.h"

#include "core/line_settings.h"
#include "core/value_lists.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zentrava::emu {

namespace {

constexpr qint64 kPacedByteNs = lineTimeNs(1);
constexpr int kReadRetryMs = 100;
constexpr int kMaxReadsPerWakeup = 16;

// The termios code of each of the module's baud rates, in the list's order.
constexpr std::array<speed_t, 8> kSpeeds{B1200,  B2400,  B4800,  B9600,
                                         B19200, B38400, B57600, B115200};
static_assert(kSpeeds.size() == kBaudRates.entries.size());

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void setCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

bool openRawPty(RawPty& pty, QString* error) {
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) < 0)
        return fail(systemError("openpty"));
    char name[256] = {};
    if (::ttyname_r(slave, name, sizeof name) != 0) {
        const QString text = systemError("ttyname");
        ::close(master);
        ::close(slave);
        return fail(text);
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    setCloseOnExec(master);
    setCloseOnExec(slave);
    pty = {master, slave, QString::fromLocal8Bit(name)};
    return true;
}

PtyHost::PtyHost(QObject* parent)
    : QObject(parent), m_stepTimer(new QTimer(this)), m_retryTimer(new QTimer(this)) {
    m_stepTimer->setSingleShot(true);
    m_stepTimer->setTimerType(Qt::PreciseTimer);
    connect(m_stepTimer, &QTimer::timeout, this, &PtyHost::sendStep);
    m_clock.start();
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        if (m_readNotifier)
            m_readNotifier->setEnabled(true);
    });
}

PtyHost::~PtyHost() {
    closeAll();
}

bool PtyHost::open(QString* error) {
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    if (m_master >= 0)
        return fail(QStringLiteral("already open"));

    RawPty pty;
    if (!openRawPty(pty, error))
        return false;
    ::fcntl(pty.master, F_SETFL, ::fcntl(pty.master, F_GETFL) | O_NONBLOCK);
    m_master = pty.master;
    // Without an open slave the master reads EIO and polls as hung up, which would spin the
    // notifier whenever no client has the device open.
    m_heldSlave = pty.slave;
    m_devicePath = pty.devicePath;

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyHost::readMaster);
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &PtyHost::flushOutput);
    return true;
}

void PtyHost::writeRaw(const QByteArray& bytes) {
    send(bytes);
}

void PtyHost::vanish() {
    if (m_master < 0)
        return;
    closeAll();
    Q_EMIT vanished();
}

void PtyHost::takeOff() {
    m_model.takeOff();
    m_stepTimer->stop();
    m_pending.clear();
    m_output.clear();
    m_replying = false;
}

void PtyHost::putOn(const ModuleSettings& fresh) {
    m_model.putOn(fresh);
}

void PtyHost::closeAll() {
    m_stepTimer->stop();
    m_retryTimer->stop();
    // May run inside a notifier's own signal, so they go later; disabled before the fd closes.
    for (QSocketNotifier** notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (m_master >= 0)
        ::close(m_master);
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    m_master = -1;
    m_heldSlave = -1;
    m_pending.clear();
    m_sentWhenFlushed.clear();
    m_output.clear();
    m_replying = false;
}

void PtyHost::readMaster() {
    char buffer[4096];
    for (int reads = 0; reads < kMaxReadsPerWakeup && m_master >= 0; ++reads) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            // EIO: no slave side right now. Back off rather than spin on a notifier that
            // keeps firing.
            m_readNotifier->setEnabled(false);
            m_retryTimer->start(kReadRetryMs);
            return;
        }
        const QByteArray chunk(buffer, int(n));
        m_received.append(chunk);
        if (m_model.present() && !heardAtModuleLine()) {
            Q_EMIT misheard(chunk);
            continue;
        }
        std::vector<Reply> replies = m_model.feed(chunk);
        const QByteArray discarded = m_model.takeDiscarded();
        if (!discarded.isEmpty())
            Q_EMIT bytesDiscarded(discarded);
        for (Reply& reply : replies) {
            if (m_master < 0)
                return;
            Q_EMIT requestReceived(reply.request);
            m_pending.push_back({std::move(reply), m_clock.elapsed()});
            startNextReply();
        }
    }
}

bool PtyHost::heardAtModuleLine() const {
    // The baud rate a client gives its end of the pseudo-terminal is the one it talks at. Its
    // parity cannot be told: the pseudo-terminal drops it.
    termios tio{};
    if (::tcgetattr(m_heldSlave, &tio) != 0)
        return true;
    const auto speed = std::find(kSpeeds.begin(), kSpeeds.end(), ::cfgetospeed(&tio));
    return speed != kSpeeds.end() &&
           kBaudRates.entries[std::size_t(speed - kSpeeds.begin())] == m_model.line().number;
}

void PtyHost::startNextReply() {
    while (!m_replying && !m_pending.empty() && m_master >= 0) {
        const Reply& reply = m_pending.front().reply;
        switch (reply.fault.kind) {
        case FaultKind::Vanish:
            vanish();
            return;
        case FaultKind::Delay: {
            // From the request's arrival: a slow module answers each request that long after
            // it, however many came meanwhile.
            const qint64 due = m_pending.front().receivedMs + faultParam(reply.fault);
            m_replying = true;
            m_stepTimer->start(int(std::max<qint64>(0, due - m_clock.elapsed())));
            return;
        }
        case FaultKind::Trickle:
        case FaultKind::Paced:
            m_replying = true;
            m_replySentCount = 0;
            m_paceClock.start();
            sendStep();
            return;
        default:
            if (reply.bytes.isEmpty()) {
                m_pending.pop_front();
                continue;
            }
            send(reply.bytes);
            if (m_master < 0)
                return;
            finishReply();
            break;
        }
    }
}

void PtyHost::sendStep() {
    if (m_pending.empty() || m_master < 0)
        return;
    const Reply& reply = m_pending.front().reply;
    const int total = int(reply.bytes.size());
    switch (reply.fault.kind) {
    case FaultKind::Trickle:
        send(reply.bytes.mid(m_replySentCount++, 1));
        if (m_master >= 0 && m_replySentCount < total) {
            m_stepTimer->start(faultParam(reply.fault));
            return;
        }
        break;
    case FaultKind::Paced: {
        // By elapsed time, so a late timer is caught up on rather than stretching the reply.
        const qint64 elapsed = m_paceClock.nsecsElapsed();
        const int due = int(std::min<qint64>(total, elapsed / kPacedByteNs));
        if (due > m_replySentCount) {
            send(reply.bytes.mid(m_replySentCount, due - m_replySentCount));
            m_replySentCount = due;
        }
        if (m_master >= 0 && m_replySentCount < total) {
            const qint64 wait = (m_replySentCount + 1) * kPacedByteNs - elapsed;
            m_stepTimer->start(int((wait + 999999) / 1000000));
            return;
        }
        break;
    }
    default:
        send(QByteArray(reply.bytes));
        break;
    }
    // A replySent handler may have closed everything meanwhile.
    if (m_master < 0)
        return;
    finishReply();
    startNextReply();
}

void PtyHost::finishReply() {
    if (m_pending.empty())
        return;
    const QByteArray bytes = m_pending.front().reply.bytes;
    m_pending.pop_front();
    m_replying = false;
    if (m_output.isEmpty())
        Q_EMIT replySent(bytes);
    else
        m_sentWhenFlushed.push_back(bytes);
}

void PtyHost::send(const QByteArray& bytes) {
    if (m_master < 0 || bytes.isEmpty())
        return;
    m_output.append(bytes);
    flushOutput();
}

void PtyHost::flushOutput() {
    while (!m_output.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_output.constData(), std::size_t(m_output.size()));
        if (n > 0) {
            m_output.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writeNotifier->setEnabled(true);
            return;
        }
        qWarning("kt7720 emulator: write to pty failed: %s", std::strerror(errno));
        m_output.clear();
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    while (!m_sentWhenFlushed.empty() && m_master >= 0) {
        const QByteArray bytes = m_sentWhenFlushed.front();
        m_sentWhenFlushed.pop_front();
        Q_EMIT replySent(bytes);
    }
}

} // namespace zentrava::emu

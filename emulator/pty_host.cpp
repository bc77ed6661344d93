#include "emulator/pty_host.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace zentrava::emu {

namespace {

// Start, eight data bits, stop: ten bit times at 9600 baud.
constexpr qint64 kPacedByteNs = 10 * 1000000000LL / 9600;
constexpr int kReadRetryMs = 100;
constexpr int kMaxReadsPerWakeup = 16;

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void setCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

PtyHost::PtyHost(QObject* parent)
    : QObject(parent), stepTimer_(new QTimer(this)), retryTimer_(new QTimer(this)) {
    stepTimer_->setSingleShot(true);
    stepTimer_->setTimerType(Qt::PreciseTimer);
    connect(stepTimer_, &QTimer::timeout, this, &PtyHost::sendStep);
    retryTimer_->setSingleShot(true);
    connect(retryTimer_, &QTimer::timeout, this, [this] {
        if (readNotifier_)
            readNotifier_->setEnabled(true);
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
    if (master_ >= 0)
        return fail(QStringLiteral("already open"));

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
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    setCloseOnExec(master);
    setCloseOnExec(slave);

    master_ = master;
    // Without an open slave the master reads EIO and polls as hung up, which would spin the
    // notifier whenever no client has the device open.
    heldSlave_ = slave;
    devicePath_ = QString::fromLocal8Bit(name);

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &PtyHost::readMaster);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &PtyHost::flushOutput);
    return true;
}

void PtyHost::writeRaw(const QByteArray& bytes) {
    send(bytes);
}

void PtyHost::vanish() {
    if (master_ < 0)
        return;
    closeAll();
    Q_EMIT vanished();
}

void PtyHost::closeAll() {
    stepTimer_->stop();
    retryTimer_->stop();
    // May run inside a notifier's own signal, so they go later; disabled before the fd closes.
    for (QSocketNotifier** notifier : {&readNotifier_, &writeNotifier_}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    if (master_ >= 0)
        ::close(master_);
    if (heldSlave_ >= 0)
        ::close(heldSlave_);
    master_ = -1;
    heldSlave_ = -1;
    pending_.clear();
    sentWhenFlushed_.clear();
    output_.clear();
    replying_ = false;
}

void PtyHost::readMaster() {
    char buffer[4096];
    for (int reads = 0; reads < kMaxReadsPerWakeup && master_ >= 0; ++reads) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            // EIO: no slave side right now. Back off rather than spin on a notifier that
            // keeps firing.
            readNotifier_->setEnabled(false);
            retryTimer_->start(kReadRetryMs);
            return;
        }
        const QByteArray chunk(buffer, int(n));
        received_.append(chunk);
        Q_EMIT bytesReceived(chunk);
        std::vector<Reply> replies = model_.feed(chunk);
        const QByteArray discarded = model_.takeDiscarded();
        if (!discarded.isEmpty())
            Q_EMIT bytesDiscarded(discarded);
        for (Reply& reply : replies) {
            if (master_ < 0)
                return;
            Q_EMIT requestReceived(reply.request);
            pending_.push_back(std::move(reply));
            startNextReply();
        }
    }
}

void PtyHost::startNextReply() {
    while (!replying_ && !pending_.empty() && master_ >= 0) {
        const Reply& reply = pending_.front();
        switch (reply.fault.kind) {
        case FaultKind::Vanish:
            vanish();
            return;
        case FaultKind::Delay:
            replying_ = true;
            stepTimer_->start(faultParam(reply.fault));
            return;
        case FaultKind::Trickle:
        case FaultKind::Paced:
            replying_ = true;
            replySentCount_ = 0;
            paceClock_.start();
            sendStep();
            return;
        default:
            if (reply.bytes.isEmpty()) {
                pending_.pop_front();
                continue;
            }
            replying_ = true;
            send(QByteArray(reply.bytes));
            if (master_ < 0)
                return;
            finishReply();
            break;
        }
    }
}

void PtyHost::sendStep() {
    if (pending_.empty() || master_ < 0)
        return;
    const Reply& reply = pending_.front();
    const int total = int(reply.bytes.size());
    switch (reply.fault.kind) {
    case FaultKind::Trickle:
        send(reply.bytes.mid(replySentCount_++, 1));
        if (master_ >= 0 && replySentCount_ < total) {
            stepTimer_->start(faultParam(reply.fault));
            return;
        }
        break;
    case FaultKind::Paced: {
        // By elapsed time, so a late timer is caught up on rather than stretching the reply.
        const qint64 elapsed = paceClock_.nsecsElapsed();
        const int due = int(std::min<qint64>(total, elapsed / kPacedByteNs));
        if (due > replySentCount_) {
            send(reply.bytes.mid(replySentCount_, due - replySentCount_));
            replySentCount_ = due;
        }
        if (master_ >= 0 && replySentCount_ < total) {
            const qint64 wait = (replySentCount_ + 1) * kPacedByteNs - elapsed;
            stepTimer_->start(int((wait + 999999) / 1000000));
            return;
        }
        break;
    }
    default:
        send(QByteArray(reply.bytes));
        break;
    }
    // A replySent handler may have closed everything meanwhile.
    if (master_ < 0)
        return;
    finishReply();
    startNextReply();
}

void PtyHost::finishReply() {
    if (pending_.empty())
        return;
    const QByteArray bytes = pending_.front().bytes;
    pending_.pop_front();
    replying_ = false;
    if (output_.isEmpty())
        Q_EMIT replySent(bytes);
    else
        sentWhenFlushed_.push_back(bytes);
}

void PtyHost::send(const QByteArray& bytes) {
    if (master_ < 0 || bytes.isEmpty())
        return;
    output_.append(bytes);
    flushOutput();
}

void PtyHost::flushOutput() {
    while (!output_.isEmpty() && master_ >= 0) {
        const ssize_t n = ::write(master_, output_.constData(), std::size_t(output_.size()));
        if (n > 0) {
            output_.remove(0, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            writeNotifier_->setEnabled(true);
            return;
        }
        qWarning("kt7720 emulator: write to pty failed: %s", std::strerror(errno));
        output_.clear();
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(false);
    while (!sentWhenFlushed_.empty() && master_ >= 0) {
        const QByteArray bytes = sentWhenFlushed_.front();
        sentWhenFlushed_.pop_front();
        Q_EMIT replySent(bytes);
    }
}

} // namespace zentrava::emu

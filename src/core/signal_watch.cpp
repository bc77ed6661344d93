#include "core/signal_watch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zentrava {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int signalNumber) {
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    if (::write(signalPipe[1], &byte, 1) < 0) {
        // Pipe full: the loop has plenty to read already.
    }
    errno = savedErrno;
}

} // namespace

bool SignalWatch::watch(std::initializer_list<int> signalNumbers) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : signalNumbers) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            return false;
    }
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatch::readPipe);
    return true;
}

void SignalWatch::readPipe() {
    char numbers[16];
    ssize_t n = 0;
    while ((n = ::read(signalPipe[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            Q_EMIT received(numbers[i]);
    }
}

} // namespace zentrava

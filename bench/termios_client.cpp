// Floor for one exchange: plain open/write/poll/read on the device, no Qt at all.
// Run by zentrava-bench-exchange as build/release/bench/zentrava-bench-termios-client DEV HEX N
//
// Each line on stdin asks for one exchange: the frame HEX written, N reply bytes read.
// Each answer on stdout is "<write stamp ns> <elapsed ns>" on CLOCK_MONOTONIC, or "error ...".
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kReplyTimeoutMs = 2000;

std::int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

bool parseHex(const char* text, std::vector<unsigned char>& bytes) {
    const std::size_t length = std::strlen(text);
    if (length == 0 || length % 2 != 0)
        return false;
    for (std::size_t i = 0; i < length; i += 2) {
        char pair[3] = {text[i], text[i + 1], '\0'};
        char* end = nullptr;
        const long value = std::strtol(pair, &end, 16);
        if (*end != '\0')
            return false;
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

int openLine(const char* device) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

bool exchange(int fd, const std::vector<unsigned char>& frame, int replyLength, std::int64_t* stamp,
              std::int64_t* elapsed) {
    *stamp = monotonicNs();
    std::size_t written = 0;
    while (written < frame.size()) {
        const ssize_t n = ::write(fd, frame.data() + written, frame.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += std::size_t(n);
    }
    unsigned char buffer[256];
    int got = 0;
    while (got < replyLength) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kReplyTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        got += int(n);
    }
    *elapsed = monotonicNs() - *stamp;
    return got == replyLength;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<unsigned char> frame;
    const int replyLength = argc == 4 ? std::atoi(argv[3]) : 0;
    if (argc != 4 || !parseHex(argv[2], frame) || replyLength <= 0 || replyLength > 256) {
        std::fprintf(stderr, "usage: %s DEVICE HEXFRAME REPLYLENGTH\n", argv[0]);
        return 2;
    }
    const int fd = openLine(argv[1]);
    if (fd < 0) {
        std::printf("error cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        std::int64_t stamp = 0;
        std::int64_t elapsed = 0;
        if (!exchange(fd, frame, replyLength, &stamp, &elapsed)) {
            std::printf("error no reply\n");
            std::fflush(stdout);
            return 1;
        }
        std::printf("%lld %lld\n", static_cast<long long>(stamp), static_cast<long long>(elapsed));
        std::fflush(stdout);
    }
    ::close(fd);
    return 0;
}

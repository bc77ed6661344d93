// Baseline for one exchange: the least a Qt program does with QSerialPort, event loop and all.
// Run by zentrava-bench-exchange as build/release/bench/zentrava-bench-qserialport-client DEV HEX N
//
// Each line on stdin asks for one exchange: the frame HEX written, N reply bytes read.
// Each answer on stdout is "<write stamp ns> <elapsed ns>" on CLOCK_MONOTONIC, or "error ...";
// a reply that never comes is the harness's to time out.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

qint64 monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void answer(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QByteArray frame = args.size() == 4 ? QByteArray::fromHex(args[2].toLatin1()) : "";
    const int replyLength = args.size() == 4 ? args[3].toInt() : 0;
    if (frame.isEmpty() || replyLength <= 0) {
        std::fprintf(stderr, "usage: %s DEVICE HEXFRAME REPLYLENGTH\n", argv[0]);
        return 2;
    }

    QSerialPort port(args[1]);
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("error cannot open %s: %s\n", argv[1], qPrintable(port.errorString()));
        return 1;
    }

    QElapsedTimer timer;
    qint64 stamp = 0;
    QByteArray reply;
    QObject::connect(&port, &QSerialPort::readyRead, &app, [&] {
        reply += port.readAll();
        if (reply.size() < replyLength)
            return;
        const qint64 elapsed = timer.nsecsElapsed();
        reply.clear();
        std::printf("%lld %lld\n", static_cast<long long>(stamp), static_cast<long long>(elapsed));
        std::fflush(stdout);
    });

    // One line a round; end of input ends the program.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char line[64];
        const ssize_t n = ::read(STDIN_FILENO, line, sizeof line);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        stamp = monotonicNs();
        timer.start();
        port.write(frame);
    });
    answer("ready\n");
    return app.exec();
}

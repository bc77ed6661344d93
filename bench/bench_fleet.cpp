// kt7720ctl get all on a fleet of emulated modules at wire pace, against one module alone: a
// fleet should cost little more than its slowest module.
// Run from an optimised build: build/release/bench/zentrava-bench-fleet [--rounds N | --smoke]
#include "bench_stats.h"
#include "emulator/pty_host.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace zentrava;

namespace {

constexpr int kFleetSizes[] = {1, 8, 16};
constexpr int kLinesPerModule = 7;

// The emulators answer from their own thread, so the timed process competes with them for the
// CPU only, never for an event loop, and this thread can block on the process.
class ModuleRack {
public:
    explicit ModuleRack(int count) {
        m_thread.start();
        m_context.moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            &m_context,
            [this, count] {
                for (int i = 0; i < count; ++i) {
                    auto* module = new emu::PtyHost(&m_context);
                    if (!module->open())
                        qFatal("no pseudo-terminal");
                    module->model().setFault({emu::FaultKind::Paced, 0});
                    m_devices << module->devicePath();
                }
            },
            Qt::BlockingQueuedConnection);
    }

    ~ModuleRack() {
        QThread* home = QThread::currentThread();
        QMetaObject::invokeMethod(
            &m_context,
            [this, home] {
                qDeleteAll(m_context.children());
                m_context.moveToThread(home);
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    QStringList devices(int count) const { return m_devices.mid(0, count); }

private:
    QThread m_thread;
    QObject m_context;
    QStringList m_devices;
};

// Wall time of one whole run, start-up included, as a script sees it; empty when it failed.
std::optional<double> timeGetAll(const QStringList& devices) {
    QStringList arguments;
    for (const QString& device : devices)
        arguments << QStringLiteral("--port") << device;
    arguments << QStringLiteral("get") << QStringLiteral("all");
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(KT7720CTL_PATH), arguments);
    const bool finished = process.waitForFinished(30000);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    const QByteArray out = process.readAllStandardOutput();
    if (!finished || process.exitCode() != 0 ||
        out.count('\n') != kLinesPerModule * devices.size()) {
        std::fprintf(stderr, "bench_fleet: %lld modules: exit %d\n%s%s",
                     static_cast<long long>(devices.size()), process.exitCode(), out.constData(),
                     process.readAllStandardError().constData());
        return std::nullopt;
    }
    return ms;
}

double percentile(const std::vector<double>& sorted, int percent) {
    return sorted[(sorted.size() - 1) * std::size_t(percent) / 100];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("One round, to see that it runs."));
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Rounds per fleet size (default 25)."),
                                    QStringLiteral("N"), QStringLiteral("25"));
    parser.addOptions({smoke, rounds});
    parser.process(app);
    const int roundCount = parser.isSet(smoke) ? 1 : std::max(1, parser.value(rounds).toInt());

    const int largest = *std::max_element(std::begin(kFleetSizes), std::end(kFleetSizes));
    ModuleRack rack(largest);
    std::map<int, std::vector<double>> samples;
    for (int round = 0; round < roundCount; ++round) {
        // The sizes take turns leading, so no size always runs on a warmer machine.
        for (std::size_t i = 0; i < std::size(kFleetSizes); ++i) {
            const int size = kFleetSizes[(i + std::size_t(round)) % std::size(kFleetSizes)];
            const std::optional<double> ms = timeGetAll(rack.devices(size));
            if (!ms)
                return 1;
            samples[size].push_back(*ms);
        }
    }

    // Each round against its own single-module run, so a slow stretch of the machine cancels out.
    const bench::Spread eight = bench::spread(bench::ratios(samples[8], samples[1]));
    const bench::Spread sixteen = bench::spread(bench::ratios(samples[16], samples[1]));

    std::printf("kt7720ctl get all, replies paced at 9600 baud, %d round%s per size\n", roundCount,
                roundCount == 1 ? "" : "s");
    std::printf("modules  median ms  p25..p75 ms      min..max ms       vs one module\n");
    double single = 0;
    for (auto [size, times] : samples) {
        std::sort(times.begin(), times.end());
        const double median = percentile(times, 50);
        if (size == 1)
            single = median;
        std::printf("%7d  %9.1f  %6.1f..%-6.1f  %6.1f..%-8.1f  %.2fx%s\n", size, median,
                    percentile(times, 25), percentile(times, 75), times.front(), times.back(),
                    median / single, size == 8 ? " (goal under 1.3x)" : "");
    }

    bench::printResult("3", "get all, 8 modules vs 1", eight, "<= 1.3x", eight.median <= 1.3);
    bench::printResult("3", "get all, 16 modules vs 1 (reported)", sixteen, "reported", true);
    bench::printDetail("3", "kt7720ctl get all, wall time with start-up, replies paced at 9600 "
                            "baud, ms: 1 module " +
                                bench::describe(bench::spread(samples[1]), 1) + ", 8 modules " +
                                bench::describe(bench::spread(samples[8]), 1) + ", 16 modules " +
                                bench::describe(bench::spread(samples[16]), 1));
    return 0;
}

// 1 to 10000 reads in a row through the real window: time per read, VmRSS and descriptors flat.
// Run from an optimised build: build/release/bench/zentrava-bench-growth [--rounds N | --smoke]
#include "bench_stats.h"
#include "line_module.h"
#include "window_driver.h"

#include "app/form1.h"
#include "core/serial_link.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QStyleFactory>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zentrava;
using namespace zentrava::bench;

namespace {

constexpr int kLongest = 10000;
constexpr int kReference = 100;
// Memory and descriptors are looked at this often within a run, outside the timed part.
constexpr int kSampleEvery = 100;

// Read without the heap, so looking does not move what is looked at.
long residentKb() {
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[8192];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    text[n] = '\0';
    const char* line = std::strstr(text, "VmRSS:");
    return line ? std::strtol(line + 6, nullptr, 10) : -1;
}

int openDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    // Not the one opendir itself held.
    return count - 1;
}

// Milliseconds from the click's release to "Success!"; the window is at rest again after it.
double read(WindowDriver& window) {
    const WindowDriver::Click click = window.click("Command1");
    QCoreApplication::processEvents();
    return double(click.shownNs - click.releaseNs) / 1e6;
}

struct Run {
    int length = 0;
    Spread time;
    double meanMs = 0;
    Spread firstTenth; // the run's first and last tenth: a slow drift shows between them
    Spread lastTenth;
    long rssStartKb = 0;
    long rssEndKb = 0;
    int fdStart = 0;
    int fdEnd = 0;
};

std::string number(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

} // namespace

int main(int argc, char* argv[]) {
    useOffscreenWithoutDisplay();
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("Runs of 1 and 10 only, to see it runs."));
    const QCommandLineOption roundsOption(
        QStringLiteral("rounds"),
        QStringLiteral("Times each run length is repeated (default 1); the samples pool."),
        QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({smoke, roundsOption});
    parser.process(app);
    const bool isSmoke = parser.isSet(smoke);
    const int repeats = isSmoke ? 1 : std::max(1, parser.value(roundsOption).toInt());
    const std::vector<int> lengths =
        isSmoke ? std::vector<int>{1, 10} : std::vector<int>{1, 10, kReference, 1000, kLongest};

    LineModule module;
    std::string error;
    if (!module.open(&error))
        fail("no pseudo-terminal: " + error);
    module.setPace(LineModule::Pace::Immediate);
    WindowDriver window(module);
    window.open();

    // Every buffer the runs need exists before the first figure is taken.
    std::vector<double> times;
    times.reserve(std::size_t(kLongest) * std::size_t(repeats));
    std::vector<double> rssSamples;
    std::vector<double> fdSamples;
    rssSamples.reserve(std::size_t(kLongest / kSampleEvery + 1) * std::size_t(repeats));
    fdSamples.reserve(rssSamples.capacity());
    std::vector<Run> runs;
    runs.reserve(lengths.size());
    long referenceRss = 0;
    int referenceFds = 0;
    double referenceMs = 0;
    std::vector<double> longestTimes;
    longestTimes.reserve(times.capacity());

    // Untimed: the first clicks pay for fonts, styles and page faults.
    for (int i = 0; i < (isSmoke ? 1 : 50); ++i)
        read(window);

    std::printf("window on %s, platform %s, module answering at once\n",
                module.devicePath().c_str(), qPrintable(QGuiApplication::platformName()));
    for (const int length : lengths) {
        Run run;
        run.length = length;
        times.clear();
        rssSamples.clear();
        fdSamples.clear();
        run.rssStartKb = residentKb();
        run.fdStart = openDescriptors();
        for (int repeat = 0; repeat < repeats; ++repeat) {
            for (int i = 1; i <= length; ++i) {
                times.push_back(read(window));
                if (i % kSampleEvery == 0) {
                    rssSamples.push_back(double(residentKb()));
                    fdSamples.push_back(double(openDescriptors()));
                }
            }
        }
        run.rssEndKb = residentKb();
        run.fdEnd = openDescriptors();
        run.time = spread(times);
        run.meanMs = std::accumulate(times.begin(), times.end(), 0.0) / double(times.size());
        const std::size_t tenth = std::max<std::size_t>(1, times.size() / 10);
        run.firstTenth = spread(std::vector<double>(times.begin(), times.begin() + long(tenth)));
        run.lastTenth = spread(std::vector<double>(times.end() - long(tenth), times.end()));
        runs.push_back(run);

        if (length == kReference) {
            referenceRss = run.rssEndKb;
            referenceFds = run.fdEnd;
            referenceMs = run.time.median;
        }
        if (length == kLongest && referenceMs > 0) {
            for (double t : times)
                longestTimes.push_back(t / referenceMs);
            for (double& kb : rssSamples)
                kb /= double(referenceRss);
            for (double& fds : fdSamples)
                fds /= double(referenceFds);
            // Growth shows within one long run, read for read: the last thousand against the
            // first. Set against a separate shorter run, it would also carry that run's noise.
            std::vector<double> lastOverFirst;
            for (std::size_t i = 0; i < tenth; ++i)
                lastOverFirst.push_back(times[times.size() - tenth + i] / times[i]);
            const Spread time = spread(lastOverFirst);
            printResult("5", "time per read, last 1000 vs first 1000 of 10000 in a row", time,
                        "<= 1.10x (flat)", time.median <= 1.10);
            printDetail("5", "time per read, 10000 in a row vs the median of 100 in a row: " +
                                 describe(spread(longestTimes), 3) + "x");
            const double rssEnd = double(run.rssEndKb) / double(referenceRss);
            const Spread rss = spread(rssSamples);
            printResult("5", "resident memory (VmRSS) during 10000 reads vs after 100", rss,
                        "<= 1.05x (flat)", rss.p75 <= 1.05 && rssEnd <= 1.05);
            const double fdEnd = double(run.fdEnd) / double(referenceFds);
            const Spread fds = spread(fdSamples);
            printResult("5", "open descriptors during 10000 reads vs after 100", fds,
                        "<= 1.05x (flat)", fds.p75 <= 1.05 && fdEnd <= 1.05);
            printDetail("5", "after 10000 reads: VmRSS " + std::to_string(run.rssEndKb) +
                                 " kB vs " + std::to_string(referenceRss) + " kB after 100 (" +
                                 number(rssEnd, 3) + "x); descriptors " +
                                 std::to_string(run.fdEnd) + " vs " + std::to_string(referenceFds) +
                                 " (" + number(fdEnd, 3) + "x)");
        }
    }

    printDetail("5", "platform " + QGuiApplication::platformName().toStdString() +
                         "; click to Success! per read in ms, median (p25..p75; n); memory "
                         "and descriptors before and after each run");
    std::printf("reads   median ms (p25..p75; n)      mean ms  first tenth  last tenth   "
                "VmRSS kB         fds\n");
    for (const Run& run : runs) {
        std::printf("%5d   %-28s %7.3f  %9.3f  %10.3f   %6ld -> %-6ld  %3d -> %d\n", run.length,
                    describe(run.time, 3).c_str(), run.meanMs, run.firstTenth.median,
                    run.lastTenth.median, run.rssStartKb, run.rssEndKb, run.fdStart, run.fdEnd);
        printDetail("5", std::to_string(run.length) + " reads: " + describe(run.time, 3) +
                             " ms, mean " + number(run.meanMs, 3) + " ms, first tenth " +
                             number(run.firstTenth.median, 3) + " ms, last tenth " +
                             number(run.lastTenth.median, 3) + " ms; VmRSS " +
                             std::to_string(run.rssStartKb) + " -> " +
                             std::to_string(run.rssEndKb) + " kB; descriptors " +
                             std::to_string(run.fdStart) + " -> " + std::to_string(run.fdEnd));
    }
    return 0;
}

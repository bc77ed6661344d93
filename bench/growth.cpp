// 1 to 10000 reads in a row through the real window: time per read, VmRSS and descriptors flat.
// Run from an optimised build: build/release/bench/zentrava-bench-growth [--rounds N | --smoke]
#include "bench_stats.h"
#include "line_module.h"

#include "app/form1.h"
#include "core/serial_link.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>

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

constexpr int kGuardMs = 2000;
constexpr int kPaintWaitMs = 200;
constexpr int kLongest = 10000;
constexpr int kReference = 100;
// Memory and descriptors are looked at this often within a run, outside the timed part.
constexpr int kSampleEvery = 100;

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "bench_growth: %s\n", text.c_str());
    std::fflush(stdout);
    std::exit(1);
}

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

class FailingMessages final : public MessageSink {
public:
    void warn(QWidget*, const QString& text) override {
        fail("the window warned: " + text.toStdString());
    }
};

// The real window with COM1 on a line module; each read is clicked, then left to repaint.
class WindowDriver : public QObject {
public:
    explicit WindowDriver(LineModule& module) : m_module(module) {
        PortMap map;
        map.set(1, QString::fromStdString(module.devicePath()), QStringLiteral("line module"));
        m_window = std::make_unique<Form1>(map, UiServices{&m_messages, nullptr, nullptr});
        // Connected after the window's own handlers, so it runs right after the reply was shown.
        connect(&m_window->serialLink(), &SerialLink::OnComm, this, [this] {
            if (m_waiting) {
                m_setNs = monotonicNs();
                m_waiting = false;
            }
        });
        m_panel = m_window->findChild<QLabel*>(QStringLiteral("panel2"));
        if (!m_panel)
            fail("the window has no status panel");
        m_panel->installEventFilter(this);
        m_guardTimer.setSingleShot(true);
        m_guardTimer.setInterval(kGuardMs);
        connect(&m_guardTimer, &QTimer::timeout, this, [this] { m_guard = true; });
    }

    void open() {
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            fail("the window was never shown");
        QTest::mouseClick(button("comopen"), Qt::LeftButton);
        if (!m_window->serialLink().portOpen())
            fail("the window did not open " + m_module.devicePath());
        m_read = button("Command1");
        QCoreApplication::processEvents();
    }

    // Milliseconds from the click to "Success!".
    double read() {
        m_setNs = 0;
        m_painted = false;
        m_waiting = true;
        m_guard = false;
        m_guardTimer.start();
        const std::int64_t clickNs = monotonicNs();
        QTest::mouseClick(m_read, Qt::LeftButton);
        while (m_waiting && !m_guard)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        m_guardTimer.stop();
        if (m_waiting || m_window->panelText(2) != QLatin1String("Success!"))
            fail("the status shows \"" + m_window->panelText(2).toStdString() + "\"");
        const double ms = double(m_setNs - clickNs) / 1e6;
        // From rest: the reply shown and painted, and whatever it queued handled.
        QElapsedTimer paintWait;
        paintWait.start();
        while (!m_painted && paintWait.elapsed() < kPaintWaitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QCoreApplication::processEvents();
        return ms;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_panel && event->type() == QEvent::Paint && m_setNs != 0)
            m_painted = true;
        return false;
    }

private:
    QPushButton* button(const char* name) const {
        auto* found = m_window->findChild<QPushButton*>(QLatin1String(name));
        if (!found)
            fail(std::string("no button ") + name);
        return found;
    }

    LineModule& m_module;
    FailingMessages m_messages;
    std::unique_ptr<Form1> m_window;
    QLabel* m_panel = nullptr;
    QPushButton* m_read = nullptr;
    QTimer m_guardTimer;
    bool m_waiting = false;
    bool m_guard = false;
    bool m_painted = false;
    std::int64_t m_setNs = 0;
};

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
    // The lead's runs bring a display; without one the window still runs, just unseen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
        window.read();

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
                times.push_back(window.read());
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
            const Spread time = spread(longestTimes);
            printResult("5", "time per read, 10000 in a row vs 100 in a row", time,
                        "<= 1.10x (flat)", time.median <= 1.10);
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

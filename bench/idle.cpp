// Idle wake-ups of the window with its port open, against the once-a-minute clock it must keep.
// Run under a display: build/release/bench/zentrava-bench-idle [--rounds N | --smoke]
#include "app/form1.h"
#include "bench_stats.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentrava;

namespace {

// Whoever sees this first on the command line is one of the idle windows, not the harness.
constexpr char kWindowRole[] = "--one-window";
const QString kOpenedStatus = QStringLiteral("Opened 9600,n,8,1");

struct Role {
    const char* name;
    const char* label;
    bool needsModule;
};
// The window as used, the same window before its port is opened, and what Qt costs alone.
constexpr Role kRoles[] = {
    {"open", "Form1, COM1 open", true},
    {"closed", "Form1, port never opened", true},
    {"bare", "bare QMainWindow, Qt alone", false},
};

// ---------------------------------------------------------------------------------------------
// One idle window.

// A failed open must end the child, not leave it waiting on a modal box nobody will close.
class StderrSink final : public MessageSink {
public:
    void warn(QWidget*, const QString& text) override {
        std::fprintf(stderr, "bench_idle: the window warned: %s\n", qPrintable(text));
        warned = true;
    }
    bool warned = false;
};

void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int failWindow(const QByteArray& role, const QString& why) {
    say("failed|" + role + '|' + why.toLocal8Bit());
    return 1;
}

int runWindow(QApplication& app, const QString& role, const QString& device) {
    // The look the program itself picks, so the same style code paints.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QByteArray roleName = role.toLatin1();
    // The window comes up when the harness says so: every window's first minute is then the same
    // minute, start-up leftovers included, whenever each process got going.
    say("started|" + roleName);
    std::string go;
    if (!std::getline(std::cin, go))
        return 1;

    StderrSink sink;
    std::unique_ptr<QMainWindow> window;
    Form1* form = nullptr;
    if (role == QLatin1String("bare")) {
        window = std::make_unique<QMainWindow>();
        window->resize(528, 233);
    } else {
        PortMap map;
        map.set(1, device, QStringLiteral("emulated KT7720"));
        UiServices services;
        services.messages = &sink;
        auto made = std::make_unique<Form1>(map, services);
        form = made.get();
        window = std::move(made);
    }
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        return failWindow(roleName, QStringLiteral("the window was never exposed"));

    QString status = QStringLiteral("-");
    if (form && role == QLatin1String("open")) {
        // A real click, so focus moves to the button as it does for a user.
        auto* button = form->findChild<QPushButton*>(QStringLiteral("comopen"));
        if (!button)
            return failWindow(roleName, QStringLiteral("no comopen button"));
        QTest::mouseClick(button, Qt::LeftButton);
        status = form->panelText(1);
        if (status != kOpenedStatus || sink.warned)
            return failWindow(roleName, QStringLiteral("status '%1' after open").arg(status));
    } else if (form) {
        status = form->panelText(1);
    }
    say("ready|" + roleName + '|' + QGuiApplication::platformName().toLatin1() + '|' +
        status.toLocal8Bit());
    return app.exec();
}

// ---------------------------------------------------------------------------------------------
// The harness.

qint64 nowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

void sleepUntilMs(qint64 epochMs) {
    std::this_thread::sleep_until(
        std::chrono::system_clock::time_point(std::chrono::milliseconds(epochMs)));
}

QString clockText(qint64 epochMs) {
    return QDateTime::fromMSecsSinceEpoch(epochMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

std::string text(const QString& s) {
    return s.toStdString();
}

// Context switches so far, per thread id.
using Sample = std::map<int, qint64>;

qint64 statusField(const char* status, const char* key) {
    const char* at = std::strstr(status, key);
    return at ? std::strtoll(at + std::strlen(key), nullptr, 10) : 0;
}

QByteArray readSmallFile(const QByteArray& path) {
    char buffer[4096];
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
}

struct Child {
    const Role* role = nullptr;
    std::unique_ptr<QProcess> process;
    qint64 pid = 0;
    QString platform;
    std::map<int, QString> threadNames;
    // At the three bounds of the two counts.
    std::vector<Sample> samples;
    Sample last;
    bool growing = false;
    int wakeUps[2] = {0, 0};
    std::vector<qint64> wakeTimes;
    bool threadsChanged[2] = {false, false};
};

// A thread that goes to sleep counts a voluntary switch, one that is preempted a nonvoluntary
// one; whichever thread a wake-up lands on, it shows here.
Sample sampleProcess(Child& child) {
    Sample sample;
    const QString taskDir = QStringLiteral("/proc/%1/task").arg(child.pid);
    for (const QString& tid : QDir(taskDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray dir = (taskDir + QLatin1Char('/') + tid + QLatin1Char('/')).toLocal8Bit();
        const QByteArray status = readSmallFile(dir + "status");
        if (status.isEmpty())
            continue;
        const int id = tid.toInt();
        sample[id] = statusField(status.constData(), "\nvoluntary_ctxt_switches:") +
                     statusField(status.constData(), "\nnonvoluntary_ctxt_switches:");
        if (!child.threadNames.count(id)) {
            child.threadNames[id] =
                id == child.pid ? QStringLiteral("main")
                                : QString::fromLocal8Bit(readSmallFile(dir + "comm").trimmed());
        }
    }
    return sample;
}

struct Growth {
    qint64 total = 0;
    std::map<QString, qint64> perThread;
    bool threadsChanged = false;
};

Growth growth(const Child& child, const Sample& before, const Sample& after) {
    Growth g;
    for (const auto& [tid, switches] : after) {
        const auto old = before.find(tid);
        const qint64 delta = switches - (old == before.end() ? 0 : old->second);
        g.total += delta;
        g.perThread[child.threadNames.at(tid)] += delta;
        g.threadsChanged |= old == before.end();
    }
    // A thread that ended must have woken to do so, however briefly.
    for (const auto& entry : before) {
        if (!after.count(entry.first)) {
            g.total += 1;
            g.perThread[child.threadNames.at(entry.first) + QStringLiteral(" (ended)")] += 1;
            g.threadsChanged = true;
        }
    }
    return g;
}

void stopAll(std::vector<std::unique_ptr<QProcess>>& processes) {
    for (auto& process : processes) {
        if (process->state() != QProcess::NotRunning)
            process->terminate();
    }
    for (auto& process : processes) {
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

// Reads one line within `deadlineMs`; empty when none came.
QByteArray readLine(QProcess& process, qint64 deadlineMs) {
    while (!process.canReadLine()) {
        const qint64 left = deadlineMs - nowMs();
        if (left <= 0 || process.state() == QProcess::NotRunning)
            return {};
        process.waitForReadyRead(int(std::min<qint64>(left, 1000)));
    }
    return process.readLine().trimmed();
}

// Form1 sets its clock for 20 ms past each minute boundary.
int clockTicksIn(qint64 fromMs, qint64 toMs) {
    int ticks = 0;
    for (qint64 minute = fromMs / 60000; minute * 60000 + 20 < toMs; ++minute)
        ticks += minute * 60000 + 20 >= fromMs ? 1 : 0;
    return ticks;
}

std::string perThreadText(const std::vector<Growth>& growths) {
    std::set<QString> names;
    for (const Growth& g : growths) {
        for (const auto& entry : g.perThread)
            names.insert(entry.first);
    }
    QStringList parts;
    for (const QString& name : names) {
        std::vector<double> values;
        for (const Growth& g : growths) {
            const auto found = g.perThread.find(name);
            values.push_back(found == g.perThread.end() ? 0.0 : double(found->second));
        }
        parts << QStringLiteral("%1 %2 (max %3)")
                     .arg(name)
                     .arg(bench::spread(values).median)
                     .arg(*std::max_element(values.begin(), values.end()));
    }
    return text(parts.join(QStringLiteral(", ")));
}

// When in the minute the windows woke, to 0.1 s, with how many wake-ups fell there.
std::string wakeTimesText(const std::vector<qint64>& times) {
    std::map<qint64, int> bins;
    for (const qint64 t : times)
        ++bins[t % 60000 / 100];
    QStringList parts;
    for (const auto& [bin, n] : bins)
        parts << QStringLiteral("%1 s (%2)")
                     .arg(double(bin) / 10, 4, 'f', 1, QLatin1Char('0'))
                     .arg(n);
    return parts.isEmpty() ? std::string("none") : text(parts.join(QStringLiteral(", ")));
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int runHarness(const QString& self, int count, bool smoke) {
    const qint64 windowMs = smoke ? 2000 : 60000;
    const qint64 settleMs = smoke ? 500 : 2000;
    // What it may take all the windows, started at once, to come up and open their ports.
    const qint64 bringUpMs = smoke ? 0 : 20000;
    // Form1's tick is due 20 ms past each minute boundary. A count that starts 2 s past one holds
    // exactly one tick, near its far end, and none of the minute before, even a tick a second late.
    const qint64 marginMs = 2000;
    // Fine enough to tell two wake-ups apart, coarse enough to keep the harness light.
    const qint64 periodMs = 50;

    std::vector<std::unique_ptr<QProcess>> processes;
    auto start = [&processes](const QString& program, const QStringList& arguments) {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        processes.push_back(std::move(process));
        return processes.back().get();
    };
    std::vector<Child> children;
    auto fail = [&](const std::string& why) {
        std::fprintf(stderr, "bench_idle: %s\n", why.c_str());
        for (Child& child : children)
            processes.push_back(std::move(child.process));
        stopAll(processes);
        return 1;
    };

    // Every window gets a module of its own in another process, as a real one would be.
    std::vector<QProcess*> emulators;
    for (const Role& role : kRoles) {
        for (int i = 0; role.needsModule && i < count; ++i)
            emulators.push_back(start(QStringLiteral(KT7720_EMU_PATH), {}));
    }
    QStringList devices;
    for (QProcess* emulator : emulators) {
        const QByteArray device = readLine(*emulator, nowMs() + 30000);
        if (!device.startsWith('/'))
            return fail("kt7720-emu gave no device");
        devices << QString::fromLocal8Bit(device);
    }

    int nextDevice = 0;
    for (const Role& role : kRoles) {
        for (int i = 0; i < count; ++i) {
            QStringList arguments{QLatin1String(kWindowRole), QLatin1String(role.name)};
            if (role.needsModule)
                arguments << QStringLiteral("--device") << devices[nextDevice++];
            Child child;
            child.role = &role;
            child.process = std::make_unique<QProcess>();
            child.process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.process->start(self, arguments);
            children.push_back(std::move(child));
        }
    }
    for (Child& child : children) {
        const QByteArray line = readLine(*child.process, nowMs() + 60000);
        if (!line.startsWith("started|"))
            return fail(std::string("a ") + child.role->name +
                        " window did not start: " + line.toStdString());
        child.pid = child.process->processId();
    }

    // All windows idle over the same stretch of time, so one that closes or appears on the shared
    // display never falls inside another's count.
    qint64 firstMs = nowMs() + bringUpMs + settleMs;
    if (!smoke)
        firstMs = (firstMs - marginMs + 59999) / 60000 * 60000 + marginMs;
    sleepUntilMs(firstMs - settleMs - bringUpMs);
    const qint64 goMs = nowMs();
    for (Child& child : children)
        child.process->write("go\n");
    for (Child& child : children)
        child.process->waitForBytesWritten(5000);
    for (Child& child : children) {
        const QByteArray line = readLine(*child.process, nowMs() + 120000);
        const QList<QByteArray> fields = line.split('|');
        if (fields.size() < 4 || fields[0] != "ready")
            return fail(std::string("a ") + child.role->name +
                        " window did not come up: " + line.toStdString());
        child.platform = QString::fromLatin1(fields[2]);
    }
    const qint64 readyMs = nowMs();
    // A slow machine loses the minute it aimed at; the counts then begin a whole minute later.
    while (firstMs < readyMs + settleMs)
        firstMs += smoke ? settleMs : 60000;

    const qint64 bounds[] = {firstMs, firstMs + windowMs, firstMs + 2 * windowMs};
    std::printf("%zu windows: told to come up at %s, all up at %s; counting %s..%s..%s\n",
                children.size(), qPrintable(clockText(goMs)), qPrintable(clockText(readyMs)),
                qPrintable(clockText(bounds[0])), qPrintable(clockText(bounds[1])),
                qPrintable(clockText(bounds[2])));
    std::fflush(stdout);

    const double cpuBefore = cpuSeconds();
    for (qint64 t = bounds[0]; t <= bounds[2]; t += periodMs) {
        sleepUntilMs(t);
        const int window = t <= bounds[1] ? 0 : 1;
        for (Child& child : children) {
            Sample sample = sampleProcess(child);
            if (t > bounds[0]) {
                const Growth g = growth(child, child.last, sample);
                // A burst of switches over neighbouring samples is one wake-up.
                if (g.total > 0 && !child.growing) {
                    ++child.wakeUps[window];
                    child.wakeTimes.push_back(t - periodMs / 2);
                }
                child.growing = g.total > 0;
                child.threadsChanged[window] |= g.threadsChanged;
            }
            if (t == bounds[0] || t == bounds[1] || t == bounds[2])
                child.samples.push_back(sample);
            child.last = std::move(sample);
        }
    }
    const double samplingCpu = cpuSeconds() - cpuBefore;

    int died = 0;
    for (Child& child : children) {
        if (child.process->state() != QProcess::Running) {
            std::fprintf(stderr, "bench_idle: a %s window ended while idle\n", child.role->name);
            ++died;
        }
    }
    // The windows go first, so none sees its module vanish and reports it.
    for (Child& child : children)
        child.process->terminate();
    for (Child& child : children)
        processes.insert(processes.begin(), std::move(child.process));
    stopAll(processes);
    if (died)
        return 1;

    const int expected[] = {clockTicksIn(bounds[0], bounds[1]), clockTicksIn(bounds[1], bounds[2])};
    const char* minuteNames[] = {"first minute after open", "second minute"};
    if (smoke) {
        minuteNames[0] = "first 2 s after open (smoke)";
        minuteNames[1] = "next 2 s (smoke)";
    }

    struct Counts {
        std::vector<double> wakeUps[2];
        std::vector<double> switches[2];
        std::vector<Growth> growths[2];
        std::vector<qint64> wakeTimes;
        int changed = 0;
    };
    std::map<const Role*, Counts> counts;
    for (const Child& child : children) {
        Counts& c = counts[child.role];
        for (std::size_t w = 0; w < 2; ++w) {
            const Growth g = growth(child, child.samples[w], child.samples[w + 1]);
            c.wakeUps[w].push_back(child.wakeUps[w]);
            c.switches[w].push_back(double(g.total));
            c.growths[w].push_back(g);
            c.changed += child.threadsChanged[w] ? 1 : 0;
        }
        c.wakeTimes.insert(c.wakeTimes.end(), child.wakeTimes.begin(), child.wakeTimes.end());
    }

    std::printf("\nper window, median (p25..p75; n), %d windows of each kind, platform %s\n", count,
                qPrintable(children.front().platform));
    std::printf("%-28s %-34s %-34s\n", "", minuteNames[0], minuteNames[1]);
    std::printf("%-28s %-16s %-17s %-16s %-17s\n", "window", "wake-ups", "switches", "wake-ups",
                "switches");
    for (const Role& role : kRoles) {
        const Counts& c = counts[&role];
        std::printf("%-28s %-16s %-17s %-16s %-17s\n", role.label,
                    bench::describe(bench::spread(c.wakeUps[0]), 0).c_str(),
                    bench::describe(bench::spread(c.switches[0]), 0).c_str(),
                    bench::describe(bench::spread(c.wakeUps[1]), 0).c_str(),
                    bench::describe(bench::spread(c.switches[1]), 0).c_str());
    }

    const Counts& open = counts[&kRoles[0]];
    for (std::size_t w = 0; w < 2; ++w) {
        // One tick per count by construction; a smoke count may hold none.
        const double ticks = std::max(1, expected[w]);
        std::vector<double> perTick;
        for (const double n : open.wakeUps[w])
            perTick.push_back(n / ticks);
        const bench::Spread ratio = bench::spread(perTick);
        bench::printResult(
            "4", std::string("idle wake-ups per clock tick, port open, ") + minuteNames[w], ratio,
            "<= 1.0x", ratio.median <= 1.0);
    }
    for (const Role& role : kRoles) {
        const Counts& c = counts[&role];
        bench::printDetail(
            "4",
            std::string(role.label) + ": wake-ups " +
                bench::describe(bench::spread(c.wakeUps[0]), 0) + " in the " + minuteNames[0] +
                ", " + bench::describe(bench::spread(c.wakeUps[1]), 0) + " in the " +
                minuteNames[1] + "; context switches " +
                bench::describe(bench::spread(c.switches[0]), 0) + " and " +
                bench::describe(bench::spread(c.switches[1]), 0) +
                (c.changed ? "; threads came or went in " + std::to_string(c.changed) + " counts"
                           : std::string()));
    }
    for (std::size_t w = 0; w < 2; ++w) {
        for (const Role& role : kRoles) {
            bench::printDetail("4", std::string(role.label) + ", " + minuteNames[w] +
                                        ", context switches per thread, median over windows: " +
                                        perThreadText(counts[&role].growths[w]));
        }
    }
    for (const Role& role : kRoles) {
        bench::printDetail("4",
                           std::string(role.label) +
                               ", when the wake-ups came, seconds past the minute (how many): " +
                               wakeTimesText(counts[&role].wakeTimes));
    }
    bench::printDetail(
        "4", "a wake-up: a burst of context switches (voluntary_ctxt_switches + "
             "nonvoluntary_ctxt_switches summed over /proc/PID/task/*/status) in consecutive " +
                 std::to_string(periodMs) + " ms samples taken by the harness from " +
                 text(clockText(bounds[0])) + " to " + text(clockText(bounds[2])) +
                 "; clock ticks due in the two counts: " + std::to_string(expected[0]) + " and " +
                 std::to_string(expected[1]) + "; platform " + text(children.front().platform) +
                 "; " + std::to_string(children.size()) + " windows idle at once; sampling took " +
                 std::to_string(int(samplingCpu * 1000)) + " ms of the harness's CPU");
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], kWindowRole) == 0) {
        QApplication app(argc, argv);
        QCommandLineParser parser;
        const QCommandLineOption role(QLatin1String(kWindowRole + 2),
                                      QStringLiteral("Be one idle window."),
                                      QStringLiteral("KIND"));
        const QCommandLineOption device(QStringLiteral("device"),
                                        QStringLiteral("The module's device, as COM1."),
                                        QStringLiteral("PATH"));
        parser.addOptions({role, device});
        parser.process(app);
        return runWindow(app, parser.value(role), parser.value(device));
    }

    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Counts the wake-ups of idle windows, each in its own process, all at once. "
                       "Needs a display (or QT_QPA_PLATFORM=offscreen)."));
    parser.addHelpOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("Two windows of each kind, 2 s counts."));
    const QCommandLineOption rounds(QStringLiteral("rounds"),
                                    QStringLiteral("Windows of each kind (default 20)."),
                                    QStringLiteral("N"), QStringLiteral("20"));
    parser.addOptions({smoke, rounds});
    parser.process(app);
    const int count = parser.isSet(smoke) ? 2 : std::max(1, parser.value(rounds).toInt());
    return runHarness(QCoreApplication::applicationFilePath(), count, parser.isSet(smoke));
}

// Start-up of zentrava against an empty Qt window of the same size: time from fork to the first
// paint seen from outside under Xvfb, and peak resident memory.
// Run from an optimised build: build/release/bench/zentrava-bench-startup [--rounds N | --smoke]
#include "bench_stats.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace bench = zentrava::bench;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultRounds = 30;
// Every contestant lives this long past its first paint, so peak memory covers the same stretch
// of each life.
constexpr auto kSettle = std::chrono::milliseconds(250);
constexpr auto kTermGrace = std::chrono::seconds(2);
constexpr auto kPaintTimeout = std::chrono::seconds(30);
constexpr auto kServerTimeout = std::chrono::seconds(10);

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "zentrava-bench-startup: %s\n", text.c_str());
    std::exit(1);
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// fork and exec, the child's output into `outFd`; the child dies with us, so an aborted run
// leaves no window or X server behind.
pid_t launch(std::vector<std::string> args, std::vector<std::string> env, int outFd) {
    const std::vector<char*> argv = pointers(args);
    const std::vector<char*> envp = pointers(env);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        fail(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(outFd, STDOUT_FILENO);
        dup2(outFd, STDERR_FILENO);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

struct Child {
    pid_t pid = -1;
    bool reaped = false;
    int status = 0;
    rusage usage{};

    bool poll() {
        if (!reaped && wait4(pid, &status, WNOHANG, &usage) == pid)
            reaped = true;
        return reaped;
    }

    // SIGTERM, then SIGKILL once the grace is over; the peak memory is known only after this.
    void end() {
        if (poll())
            return;
        kill(pid, SIGTERM);
        const auto giveUp = Clock::now() + kTermGrace;
        while (!poll() && Clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!reaped) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            reaped = true;
        }
    }
};

struct Contestant {
    std::string name;
    std::vector<std::string> command;
};

struct Run {
    double paintMs = 0;
    double peakKb = 0;
};

// An Xvfb of our own and one connection to it that sees every top-level window come, get
// mapped and get drawn into, the way a compositor would see it. The drawing is watched on the
// root window, whose damage takes in its children's: watched from the start, a first paint
// cannot slip past a watcher that was slow to notice a new window.
class XServer {
public:
    explicit XServer(const std::string& logPath) {
        int ready[2];
        if (pipe(ready) != 0)
            fail("pipe");
        fcntl(ready[0], F_SETFD, FD_CLOEXEC);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        // -displayfd picks a free display and says which once it accepts clients.
        m_server.pid = launch({"Xvfb", "-displayfd", std::to_string(ready[1]), "-nolisten", "tcp",
                               "-noreset", "-screen", "0", "1280x1024x24"},
                              {environ, environ + countEnviron()}, log);
        close(ready[1]);
        close(log);
        std::string number;
        const auto giveUp = Clock::now() + kServerTimeout;
        while (number.find('\n') == std::string::npos) {
            const int left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now())
                        .count());
            pollfd p{ready[0], POLLIN, 0};
            char chunk[32];
            ssize_t got = 0;
            if (left <= 0 || ::poll(&p, 1, left) <= 0 ||
                (got = read(ready[0], chunk, sizeof chunk)) <= 0)
                fail("Xvfb did not start (is the xvfb package installed?):\n" + fileText(logPath));
            number.append(chunk, std::size_t(got));
        }
        close(ready[0]);
        m_display = ":" + number.substr(0, number.find('\n'));
        connect();
    }

    ~XServer() {
        if (m_c)
            xcb_disconnect(m_c);
        m_server.end();
    }

    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    const std::string& display() const { return m_display; }

    // Fork to first paint of the contestant's window, then its peak memory once it is ended;
    // false when no window was painted.
    bool measure(const Contestant& who, const std::vector<std::string>& env,
                 const std::string& logPath, Run& run) {
        discardEvents();
        // Top levels made by this contestant, where they are now.
        std::map<xcb_window_t, xcb_rectangle_t> windows;
        xcb_window_t shown = XCB_NONE;
        std::optional<Clock::time_point> painted;

        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const Clock::time_point start = Clock::now();
        Child child;
        child.pid = launch(who.command, env, log);
        close(log);

        const auto giveUp = start + kPaintTimeout;
        while (!painted && !child.poll() && Clock::now() < giveUp) {
            xcb_generic_event_t* event = nextEvent(giveUp);
            if (!event)
                continue;
            const Clock::time_point seen = Clock::now();
            const int type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
                if (created->parent == m_root)
                    windows[created->window] = {created->x, created->y, created->width,
                                                created->height};
            } else if (type == XCB_CONFIGURE_NOTIFY) {
                const auto* moved = reinterpret_cast<xcb_configure_notify_event_t*>(event);
                const auto found = windows.find(moved->window);
                if (found != windows.end())
                    found->second = {moved->x, moved->y, moved->width, moved->height};
            } else if (type == XCB_MAP_NOTIFY) {
                const auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
                if (shown == XCB_NONE && windows.count(mapped->window) &&
                    !mapped->override_redirect)
                    shown = mapped->window;
            } else if (type == m_damageNotify && shown != XCB_NONE) {
                // Qt's windows have no background, so mapping one draws nothing: the first
                // drawing inside it is Qt's own paint.
                const auto* damage = reinterpret_cast<xcb_damage_notify_event_t*>(event);
                if (overlaps(damage->area, windows[shown]))
                    painted = seen;
            }
            std::free(event);
        }

        if (painted) {
            std::this_thread::sleep_for(kSettle - (Clock::now() - *painted));
            run.paintMs = msBetween(start, *painted);
        }
        child.end();
        run.peakKb = double(child.usage.ru_maxrss);
        // The next contestant starts on an empty screen, with the server done tidying this one.
        if (shown != XCB_NONE)
            awaitDestroy(shown);
        if (!painted)
            std::fprintf(stderr, "%s: no first paint (%s):\n%s\n", who.name.c_str(),
                         child.reaped ? "it ended" : "timed out", fileText(logPath).c_str());
        return bool(painted);
    }

private:
    static std::size_t countEnviron() {
        std::size_t n = 0;
        while (environ[n])
            ++n;
        return n;
    }

    void connect() {
        m_c = xcb_connect(m_display.c_str(), nullptr);
        if (xcb_connection_has_error(m_c))
            fail("cannot connect to Xvfb at " + m_display);
        fcntl(xcb_get_file_descriptor(m_c), F_SETFD, FD_CLOEXEC);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;

        const xcb_query_extension_reply_t* damage = xcb_get_extension_data(m_c, &xcb_damage_id);
        if (!damage || !damage->present)
            fail("Xvfb has no DAMAGE extension");
        // DAMAGE answers nothing until the version is agreed on.
        xcb_damage_query_version_reply_t* version = xcb_damage_query_version_reply(
            m_c, xcb_damage_query_version(m_c, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
            nullptr);
        if (!version)
            fail("DAMAGE version query failed");
        std::free(version);
        m_damageNotify = damage->first_event + XCB_DAMAGE_NOTIFY;

        // No window manager runs, so Qt's top level is a child of the root window itself.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_request_check(
            m_c, xcb_change_window_attributes_checked(m_c, m_root, XCB_CW_EVENT_MASK, &mask));
        // A report for every drawing: nothing here subtracts damage, so a non-empty report would
        // come once and never again.
        xcb_damage_create(m_c, xcb_generate_id(m_c), m_root,
                          XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        xcb_flush(m_c);
    }

    static bool overlaps(const xcb_rectangle_t& a, const xcb_rectangle_t& b) {
        return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
               b.y < a.y + a.height;
    }

    // The next event, or null after a short while so the caller can look at its child.
    xcb_generic_event_t* nextEvent(Clock::time_point giveUp) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(m_c))
            return event;
        if (xcb_connection_has_error(m_c))
            fail("lost the connection to Xvfb");
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now()).count();
        pollfd p{xcb_get_file_descriptor(m_c), POLLIN, 0};
        ::poll(&p, 1, int(std::clamp<long long>(left, 0, 50)));
        return xcb_poll_for_event(m_c);
    }

    void discardEvents() {
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_c))
            std::free(event);
    }

    void awaitDestroy(xcb_window_t window) {
        const auto giveUp = Clock::now() + kTermGrace;
        while (Clock::now() < giveUp) {
            xcb_generic_event_t* event = nextEvent(giveUp);
            if (!event)
                continue;
            const bool gone =
                (event->response_type & 0x7f) == XCB_DESTROY_NOTIFY &&
                reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == window;
            std::free(event);
            if (gone)
                return;
        }
    }

    Child m_server;
    std::string m_display;
    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = XCB_NONE;
    int m_damageNotify = -1;
};

// The caller's environment, aimed at our X server alone: the caller's Wayland desktop, session
// manager or offscreen platform would take the windows somewhere this harness cannot see.
std::vector<std::string> childEnvironment(const std::string& display, const std::string& runtime) {
    const char* const dropped[] = {"DISPLAY=",         "QT_QPA_PLATFORM=", "WAYLAND_DISPLAY=",
                                   "XDG_RUNTIME_DIR=", "SESSION_MANAGER=", "XAUTHORITY="};
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        bool keep = true;
        for (const char* prefix : dropped)
            keep = keep && std::strncmp(*entry, prefix, std::strlen(prefix)) != 0;
        if (keep)
            env.emplace_back(*entry);
    }
    env.push_back("DISPLAY=" + display);
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
    return env;
}

struct Options {
    int rounds = kDefaultRounds;
    bool smoke = false;
    bool verbose = false;
};

Options parse(int argc, char* argv[]) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--smoke") {
            options.smoke = true;
            options.rounds = 1;
        } else if (arg == "--rounds" && i + 1 < argc) {
            options.rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            std::printf("usage: %s [--rounds N | --smoke] [--verbose]\n", argv[0]);
            std::exit(arg == "--help" ? 0 : 2);
        }
    }
    return options;
}

// Logs and the children's runtime directory.
struct WorkDirectory {
    std::filesystem::path path;

    WorkDirectory() {
        char pattern[] = "/tmp/zentrava-bench-startup-XXXXXX";
        if (!mkdtemp(pattern))
            fail("mkdtemp");
        path = pattern;
    }
    ~WorkDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;
};

std::string figures(const std::vector<double>& samples, const char* unit, int decimals) {
    return bench::describe(bench::spread(samples), decimals) + " " + unit;
}

} // namespace

int main(int argc, char* argv[]) {
    const Options options = parse(argc, argv);

    // Static, so that a run given up on through fail() tidies it away too.
    static const WorkDirectory workDirectory;
    const std::filesystem::path& work = workDirectory.path;
    const std::filesystem::path runtime = work / "runtime";
    std::filesystem::create_directory(runtime);
    chmod(runtime.c_str(), 0700);

    int status = 0;
    {
        XServer server((work / "xvfb.log").string());
        const std::vector<std::string> env = childEnvironment(server.display(), runtime.string());
        const std::string log = (work / "child.log").string();

        enum { kBare, kZentrava, kBarePorts, kContestants };
        const Contestant contestants[kContestants] = {
            {"bare window", {BARE_WINDOW_PATH}},
            {"zentrava", {ZENTRAVA_PATH}},
            {"bare window + port listing", {BARE_WINDOW_PATH, "--list-ports"}},
        };
        std::vector<double> paintMs[kContestants];
        std::vector<double> peakKb[kContestants];

        auto runOnce = [&](int who) -> std::optional<Run> {
            Run run;
            if (!server.measure(contestants[who], env, log, run))
                return std::nullopt;
            return run;
        };

        // Page cache and font caches warm before anything counts.
        if (!options.smoke) {
            for (int who = 0; who < kContestants; ++who)
                runOnce(who);
        }
        for (int round = 0; round < options.rounds && status == 0; ++round) {
            // Alternating who goes first; the port listing is a detail and always comes last.
            const int order[kContestants] = {round % 2 ? kZentrava : kBare,
                                             round % 2 ? kBare : kZentrava, kBarePorts};
            for (int who : order) {
                const std::optional<Run> run = runOnce(who);
                if (!run) {
                    status = 1;
                    break;
                }
                paintMs[who].push_back(run->paintMs);
                peakKb[who].push_back(run->peakKb);
                if (options.verbose)
                    std::printf("round %2d  %-28s %8.2f ms %8.0f kB\n", round,
                                contestants[who].name.c_str(), run->paintMs, run->peakKb);
            }
        }
        if (status == 0) {
            std::printf("%-28s %-30s %s\n", "start to first paint", "ms median (p25..p75; n)",
                        "peak RSS kB median (p25..p75; n)");
            for (int who = 0; who < kContestants; ++who)
                std::printf("%-28s %-30s %s\n", contestants[who].name.c_str(),
                            bench::describe(bench::spread(paintMs[who])).c_str(),
                            bench::describe(bench::spread(peakKb[who]), 0).c_str());

            // One goal: the ratio to the bare window, then each contestant's own figures.
            const auto report = [&](const char* goal, const char* measure, const char* target,
                                    double limit, const std::vector<double>* series,
                                    const char* unit, int decimals) {
                const bench::Spread ratio =
                    bench::spread(bench::ratios(series[kZentrava], series[kBare]));
                bench::printResult(goal, measure, ratio, target, ratio.median <= limit);
                bench::printDetail(goal, "zentrava " + figures(series[kZentrava], unit, decimals));
                bench::printDetail(goal, "bare window " + figures(series[kBare], unit, decimals));
                bench::printDetail(goal, "bare window + QSerialPortInfo::availablePorts() " +
                                             figures(series[kBarePorts], unit, decimals));
            };
            report("1", "start to first paint vs bare window", "<= 1.15x", 1.15, paintMs, "ms", 2);
            report("6", "peak RSS vs bare window", "<= 1.2x", 1.2, peakKb, "kB", 0);
        }
    }
    return status;
}

// Starts a program on $DISPLAY and ends it once it maps its first window, so hyperfine times
// start-up to the window and /usr/bin/time takes the peak memory of the same life.
// Usage: zentrava-bench-wait-mapped [--linger MS] PROGRAM [ARGUMENTS...]
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kGiveUpMs = 30000;

int fail(const char* text) {
    std::fprintf(stderr, "zentrava-bench-wait-mapped: %s\n", text);
    return 1;
}

bool mapped(xcb_generic_event_t* event) {
    return (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
           !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
}

// True once a top level is mapped; false when the program ended or never did.
bool waitForMap(xcb_connection_t* c, pid_t child) {
    pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
    for (int waited = 0; waited < kGiveUpMs; waited += 10) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const bool found = mapped(event);
            std::free(event);
            if (found)
                return true;
        }
        if (xcb_connection_has_error(c) || waitpid(child, nullptr, WNOHANG) == child)
            return false;
        ::poll(&p, 1, 10);
    }
    return false;
}

void end(pid_t child) {
    ::kill(child, SIGTERM);
    for (int i = 0; i < 2000; ++i) {
        if (waitpid(child, nullptr, WNOHANG) == child)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace

int main(int argc, char* argv[]) {
    int first = 1;
    int lingerMs = 0;
    if (argc > 2 && std::strcmp(argv[1], "--linger") == 0) {
        lingerMs = std::atoi(argv[2]);
        first = 3;
    }
    if (first >= argc)
        return fail("usage: zentrava-bench-wait-mapped [--linger MS] PROGRAM [ARGUMENTS...]");
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return fail("no X display");
    // Listening before the fork, so no map can come before we look.
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    std::free(xcb_request_check(
        c, xcb_change_window_attributes_checked(c, root, XCB_CW_EVENT_MASK, &mask)));
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        ::close(xcb_get_file_descriptor(c));
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() == parent)
            execvp(argv[first], argv + first);
        _exit(127);
    }
    const bool shown = waitForMap(c, child);
    if (shown && lingerMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(lingerMs));
    end(child);
    xcb_disconnect(c);
    return shown ? 0 : fail("no window was mapped");
}

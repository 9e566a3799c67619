// Starts a program and reports, in milliseconds from its start, when its
// window titled TITLE was mapped and when it was first drawn into, then its
// resident memory at a chosen time after start.
//
//   first_paint TITLE RSS_AFTER_MS LIMIT_MS PROGRAM [ARGS...]
//   prints: MAPPED_MS PAINTED_MS RSS_KIB
//
// The first drawing is seen through the X server's DAMAGE extension: a
// damage object on every top-level window the moment it is created reports
// the first time anything is drawn into it. A mapped window is not yet a
// painted one (the program may still be busy before its first expose is
// handled), and polling screenshots would cost the CPU both programs need. It
// works the same for any X client, so the program and the baseline are timed
// alike.

#include "xcb_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

extern char** environ;

namespace {

using namespace xcb_support;
using Clock = std::chrono::steady_clock;

long rssKib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

long msSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count()) /
           1000;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5)
        fail("usage: first_paint TITLE RSS_AFTER_MS LIMIT_MS PROGRAM [ARGS...]");
    const std::string wanted = argv[1];
    const auto rssAfter = std::chrono::milliseconds(std::atol(argv[2]));
    const auto limit = std::chrono::milliseconds(std::atol(argv[3]));

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        fail("cannot connect to the X server");
    const xcb_query_extension_reply_t* damage = damageExtension(connection);
    if (!damage)
        fail("the X server has no DAMAGE extension");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const Titles titles(connection);
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    // Checked, so that the selection is in force before the program starts.
    if (const Reply<xcb_generic_error_t> error(xcb_request_check(
            connection, xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask)));
        error)
        fail("cannot watch the root window");

    // The program's own messages (Qt's warnings) would mix with the figures.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, STDOUT_FILENO, STDERR_FILENO);

    const Clock::time_point start = Clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[4], &quiet, nullptr, argv + 4, environ) != 0)
        fail(std::string("cannot start ") + argv[4]);
    posix_spawn_file_actions_destroy(&quiet);

    std::optional<long> mapped;
    std::optional<long> painted;
    std::set<xcb_window_t> watched;
    const int fd = xcb_get_file_descriptor(connection);
    while (!painted) {
        const long left = static_cast<long>(limit.count()) - msSince(start);
        if (left <= 0) {
            kill(child, SIGKILL);
            fail("no window titled " + wanted + " was drawn in time");
        }
        if (int status = 0; waitpid(child, &status, WNOHANG) == child)
            fail(std::string(argv[4]) + " ended before its window was drawn");
        pollfd wait{.fd = fd, .events = POLLIN, .revents = 0};
        poll(&wait, 1, static_cast<int>(std::min(left, 50L)));
        while (xcb_generic_event_t* raw = xcb_poll_for_event(connection)) {
            const std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(raw);
            const std::uint8_t type = event->response_type & 0x7F;
            if (type == XCB_CREATE_NOTIFY) {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event.get());
                if (created->parent == root && watched.insert(created->window).second)
                    xcb_damage_create(connection, xcb_generate_id(connection), created->window,
                                      XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
            } else if (type == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event.get());
                if (!mapped && titles.of(map->window) == wanted)
                    mapped = msSince(start);
            } else if (type == damage->first_event + XCB_DAMAGE_NOTIFY) {
                const long now = msSince(start);
                const auto* notify = reinterpret_cast<xcb_damage_notify_event_t*>(event.get());
                if (!painted && titles.of(notify->drawable) == wanted)
                    painted = now;
            }
        }
        xcb_flush(connection);
        if (xcb_connection_has_error(connection))
            fail("lost the X server");
    }

    std::this_thread::sleep_until(start + rssAfter);
    const long rss = rssKib(child);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    xcb_disconnect(connection);
    std::printf("%ld %ld %ld\n", mapped.value_or(-1), *painted, rss);
    return 0;
}

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

#include <xcb/damage.h>
#include <xcb/xcb.h>

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

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& message)
{
    std::fprintf(stderr, "first_paint: %s\n", message.c_str());
    std::exit(2);
}

struct FreeDeleter {
    void operator()(void* pointer) const noexcept { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::string(name).size()), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

std::string title(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t netWmName, xcb_atom_t utf8)
{
    using Property = std::pair<xcb_atom_t, xcb_atom_t>;
    for (const auto& [property, type] : {Property{netWmName, utf8}, Property{XCB_ATOM_WM_NAME, XCB_ATOM_STRING}}) {
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, property, type, 0, 1024), nullptr));
        if (reply && xcb_get_property_value_length(reply.get()) > 0)
            return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                    static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
    }
    return {};
}

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
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!damage || !damage->present)
        fail("the X server has no DAMAGE extension");
    free(xcb_damage_query_version_reply(
        connection, xcb_damage_query_version(connection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
        nullptr));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t netWmName = atom(connection, "_NET_WM_NAME");
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
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
                if (!mapped && title(connection, map->window, netWmName, utf8) == wanted)
                    mapped = msSince(start);
            } else if (type == damage->first_event + XCB_DAMAGE_NOTIFY) {
                const long now = msSince(start);
                const auto* notify = reinterpret_cast<xcb_damage_notify_event_t*>(event.get());
                if (!painted && title(connection, notify->drawable, netWmName, utf8) == wanted)
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

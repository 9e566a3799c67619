// Times how long a running program's window takes to show a drive plugged in
// or pulled out, in three steps: from the kernel's report of the drive to
// udev's (the rules udev runs on it), from udev's to the window's first
// drawing after it (the program's own share), and the whole.
//
//   hotplug_latency TITLE EVENTS LIMIT_MS
//   prints "ready" once listening, then for each of EVENTS drives added or
//   removed: ACTION NODE KERNEL_TO_UDEV_MS UDEV_TO_WINDOW_MS TOTAL_MS
//
// The kernel's and udev's reports are read from the same netlink family the
// program's udev monitor reads; the window's drawing is seen through the X
// server's DAMAGE extension, as bench/first_paint.cpp sees a first paint.

#include "xcb_support.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace xcb_support;
using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// The mapped top-level window with the title: with no window manager, a
// child of the root.
xcb_window_t findWindow(xcb_connection_t* connection, xcb_window_t root, const std::string& wanted)
{
    const Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree)
        fail("cannot read the window tree");
    const Titles titles(connection);
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, children[i]), nullptr));
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && titles.of(children[i]) == wanted)
            return children[i];
    }
    fail("no window titled " + wanted);
}

// One report, kernel's or udev's: the drive's action and node, when it is
// about an optical drive's whole disk.
struct Report {
    std::string action;
    std::string node;
    bool fromUdev = false;
};

std::optional<Report> readReport(int socket)
{
    char buffer[8192];
    const ssize_t size = recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
    if (size <= 0)
        return std::nullopt;
    const std::string_view message(buffer, static_cast<std::size_t>(size));
    Report report;
    report.fromUdev = message.starts_with(std::string_view("libudev\0", 8));
    bool disk = false;
    // Both kinds end in NUL-separated KEY=VALUE pairs; udev's header holds
    // no '=' that could be taken for one.
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t end = std::min(message.find('\0', at), message.size());
        const std::string_view pair = message.substr(at, end - at);
        if (pair.starts_with("ACTION="))
            report.action = pair.substr(7);
        else if (pair.starts_with("DEVNAME="))
            report.node = pair.substr(8);
        else if (pair == "DEVTYPE=disk")
            disk = true;
        at = end + 1;
    }
    if (report.node.starts_with("/dev/"))
        report.node.erase(0, 5);
    if (!disk || !report.node.starts_with("sr") || (report.action != "add" && report.action != "remove"))
        return std::nullopt;
    report.node = "/dev/" + report.node;
    return report;
}

int openUevents()
{
    const int socket = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1 | 2; // the kernel's reports, and udev's
    if (socket < 0 || bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        fail("cannot listen to the kernel's and udev's reports");
    return socket;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        fail("usage: hotplug_latency TITLE EVENTS LIMIT_MS");
    const std::string wanted = argv[1];
    const int events = std::atoi(argv[2]);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::atol(argv[3]));

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        fail("cannot connect to the X server");
    const xcb_query_extension_reply_t* damage = damageExtension(connection);
    if (!damage)
        fail("the X server has no DAMAGE extension");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_window_t window = findWindow(connection, root, wanted);
    const xcb_damage_damage_t tracker = xcb_generate_id(connection);
    xcb_damage_create(connection, tracker, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(connection);
    const int uevents = openUevents();
    std::printf("ready\n");
    std::fflush(stdout);

    std::optional<Report> pending;
    Clock::time_point kernelAt{};
    Clock::time_point udevAt{};
    bool udevSeen = false;
    for (int reported = 0; reported < events;) {
        if (Clock::now() > deadline)
            fail("the drives did not come and go in time");
        pollfd waits[2] = {{.fd = uevents, .events = POLLIN, .revents = 0},
                           {.fd = xcb_get_file_descriptor(connection), .events = POLLIN, .revents = 0}};
        poll(waits, 2, 100);
        const Clock::time_point now = Clock::now();
        while (const std::optional<Report> report = readReport(uevents)) {
            if (!report->fromUdev && !pending) {
                pending = report;
                kernelAt = now;
                udevSeen = false;
            } else if (report->fromUdev && pending && report->action == pending->action && !udevSeen) {
                udevAt = now;
                udevSeen = true;
            }
        }
        while (xcb_generic_event_t* raw = xcb_poll_for_event(connection)) {
            const std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(raw);
            if ((event->response_type & 0x7F) != damage->first_event + XCB_DAMAGE_NOTIFY)
                continue;
            // Emptied again, so that the next drawing is reported too.
            xcb_damage_subtract(connection, tracker, XCB_NONE, XCB_NONE);
            if (!pending || !udevSeen)
                continue;
            std::printf("%s %s %.1f %.1f %.1f\n", pending->action.c_str(), pending->node.c_str(),
                        msBetween(kernelAt, udevAt), msBetween(udevAt, now), msBetween(kernelAt, now));
            std::fflush(stdout);
            pending.reset();
            ++reported;
        }
        xcb_flush(connection);
        if (xcb_connection_has_error(connection))
            fail("lost the X server");
    }
    close(uevents);
    xcb_disconnect(connection);
    return 0;
}

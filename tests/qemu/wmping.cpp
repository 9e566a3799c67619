// Plays the window manager to a window in the QEMU guest, whose X server has
// none: how long the window takes to answer its pings, and its close request.
//
//   ping WINDOW SECONDS GAP_MS  pings WINDOW for SECONDS, one ping at a time,
//                               GAP_MS after the last answer; prints
//                               "pings N worst_us W median_us M", or
//                               "unanswered after N pings" once a ping goes
//                               unanswered for 10 s
//   close WINDOW                asks WINDOW to close, as its close button does
//
// WINDOW is the window's X id in decimal, as xdotool prints it. Exit status:
// 0 done, 1 a ping unanswered, 2 bad use or no X server.

#include "tests/wm_protocols.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

int ping(xcb_window_t window, std::chrono::seconds length, std::chrono::milliseconds gap)
{
    trayvo::testing::WindowManagerConnection windowManager;
    std::vector<std::chrono::microseconds> answers;
    const auto until = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < until) {
        const auto answer = windowManager.ping(window, 10s);
        if (!answer) {
            std::cout << "unanswered after " << answers.size() << " pings\n";
            return 1;
        }
        answers.push_back(*answer);
        std::this_thread::sleep_for(gap);
    }
    std::ranges::sort(answers);
    std::cout << "pings " << answers.size() << " worst_us " << answers.back().count() << " median_us "
              << answers[answers.size() / 2].count() << '\n';
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 4 && args[0] == "ping")
            return ping(static_cast<xcb_window_t>(std::stoul(args[1])), std::chrono::seconds(std::stoul(args[2])),
                        std::chrono::milliseconds(std::stoul(args[3])));
        if (args.size() == 2 && args[0] == "close") {
            trayvo::testing::WindowManagerConnection().close(static_cast<xcb_window_t>(std::stoul(args[1])));
            return 0;
        }
        std::cerr << "usage: trayvo_wmping ping WINDOW SECONDS GAP_MS | close WINDOW\n";
    } catch (const std::exception& error) {
        std::cerr << "trayvo_wmping: " << error.what() << '\n';
    }
    return 2;
}

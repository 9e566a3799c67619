// Runs the program's own drive code inside the QEMU guest, so that the
// integration test can compare what it sees with what QEMU says it did to the
// drives. Like the program, every command builds the drive list once and then
// addresses drives by position in it.
//
//   list                          one "INDEX ROOT" line per drive
//   probe INDEX TIMES             TIMES probes back to back, one 1 or 0 a line
//   watch INDEX EXPECTED LIMIT_MS probes until the answer is EXPECTED or the
//                                 limit has passed; prints every change of answer
//   open INDEX / close INDEX      moves the tray as the program's buttons do, and
//                                 like them prints nothing: failures are silent
//   explore INDEX OPENER          opens the drive's folder with OPENER standing in
//                                 for the desktop's opener; prints "ok" or the
//                                 message the program would show
//   gone INDEX LIMIT_MS           prints "listed ROOT disc 0|1", waits until the
//                                 drive's node has gone, probes it ("gone disc
//                                 0|1"), then opens and closes its tray as a
//                                 window still listing it would
//
// Exit status: 0 done, 1 a limit passed or the folder not opened, 2 bad use or an error.

#include "drives/ctlCdrom.h"
#include "platform/linux/os_operations_linux.h"
#include "platform/text_encoding.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using trayvo::ctlCdrom;
using Clock = std::chrono::steady_clock;

// Often enough to time a media change to a few milliseconds, seldom enough
// not to crowd out the emulated drive under TCG.
constexpr std::chrono::milliseconds watchInterval{10};

// Each line is flushed: the host reads them as they come, and acts on some
// while the command goes on.
int watch(const ctlCdrom& drives, int index, bool expected, std::chrono::milliseconds limit)
{
    const Clock::time_point start = Clock::now();
    std::optional<bool> last;
    for (long probes = 1;; ++probes) {
        const bool present = drives.HasDisc(index);
        if (present != last)
            std::cout << "seen " << present << " at "
                      << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()
                      << " ms" << std::endl;
        last = present;
        if (present == expected) {
            std::cout << "reached " << expected << " after " << probes << " probes" << std::endl;
            return 0;
        }
        if (Clock::now() - start >= limit)
            return 1;
        std::this_thread::sleep_for(watchInterval);
    }
}

// The program's third button hands the selector's text, the drive's root, to
// ExploreDrive; so does this.
int explore(ctlCdrom& drives, const std::u16string& root)
{
    try {
        drives.ExploreDrive(root);
    } catch (const trayvo::FolderNotOpened& error) {
        std::cout << error.what() << std::endl;
        return 1;
    }
    std::cout << "ok" << std::endl;
    return 0;
}

// A window keeps the list it built at start-up while drives come and go; this
// lets the host unplug the drive, and then probes and presses the buttons.
int whenGone(ctlCdrom& drives, int index, const std::string& root, std::chrono::milliseconds limit)
{
    std::cout << "listed " << root << " disc " << drives.HasDisc(index) << std::endl;
    const Clock::time_point start = Clock::now();
    for (std::error_code ec; std::filesystem::exists(root, ec) || ec;) {
        if (Clock::now() - start >= limit)
            return 1;
        std::this_thread::sleep_for(watchInterval);
    }
    std::cout << "gone disc " << drives.HasDisc(index) << std::endl;
    drives.OpenDoor(index);
    drives.CloseDoor(index);
    std::cout << "returned" << std::endl;
    return 0;
}

int run(const std::vector<std::string>& args)
{
    const std::string command = args.empty() ? "" : args[0];
    // Only explore starts anything, and then the stand-in rather than the
    // desktop's opener.
    trayvo::LinuxLocations locations;
    if (command == "explore" && args.size() == 3)
        locations.opener = args[2];
    trayvo::LinuxOsOperations os(locations);
    ctlCdrom drives(os);
    drives.ListCdromDrives();
    const auto& roots = drives.cdromDrives();

    if (command == "list" && args.size() == 1) {
        // The list's last slot is never filled.
        for (int index = 0; index < drives.upperBound(); ++index)
            std::cout << index << ' ' << trayvo::toUtf8(roots[static_cast<std::size_t>(index)]) << '\n';
        return 0;
    }
    const int index = args.size() > 1 ? std::stoi(args[1]) : -1;
    const auto number = [&](std::size_t at) { return std::stoi(args.at(at)); };
    if (command == "probe" && args.size() == 3) {
        for (int i = 0; i < number(2); ++i)
            std::cout << drives.HasDisc(index) << std::endl;
        return 0;
    }
    if (command == "watch" && args.size() == 4)
        return watch(drives, index, number(2) == 1, std::chrono::milliseconds(number(3)));
    if (command == "open" && args.size() == 2) {
        drives.OpenDoor(index);
        return 0;
    }
    if (command == "close" && args.size() == 2) {
        drives.CloseDoor(index);
        return 0;
    }
    if (command == "explore" && args.size() == 3)
        return explore(drives, roots.at(static_cast<std::size_t>(index)));
    if (command == "gone" && args.size() == 3)
        return whenGone(drives, index, trayvo::toUtf8(roots.at(static_cast<std::size_t>(index))),
                        std::chrono::milliseconds(number(2)));
    throw std::invalid_argument("usage: list | probe INDEX TIMES | watch INDEX EXPECTED LIMIT_MS | "
                                "open|close INDEX | explore INDEX OPENER | gone INDEX LIMIT_MS");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "trayvo_drivecheck: " << error.what() << std::endl;
        return 2;
    }
}

// Runs the program's own drive code inside the QEMU guest, so that the
// integration test can compare what it sees with what QEMU says it did to the
// drives. Like the program, every command builds the drive list once and then
// probes by position in it.
//
//   list                          one "INDEX ROOT" line per drive, then "count N"
//   probe INDEX [TIMES]           TIMES probes back to back, one 1 or 0 a line
//   watch INDEX EXPECTED LIMIT_MS probes until the answer is EXPECTED or the
//                                 limit has passed; prints every change of answer
//   open INDEX / close INDEX      moves the tray as the program's buttons do, and
//                                 like them prints nothing: failures are silent
//   explore INDEX OPENER          opens the drive's folder with OPENER standing in
//                                 for the desktop's opener; prints "ok" or the
//                                 message the program would show
//   gone INDEX LIMIT_MS           lists the drives, prints "listed ROOT disc 0|1",
//                                 waits until the drive's node has gone, probes it
//                                 ("gone disc 0|1"), then opens and closes its tray
//                                 as a window still listing it would
//
// Exit status: 0 done, 1 watch or wait limit passed or the folder not opened,
// 2 bad use or an error.

#include "drives/ctlCdrom.h"
#include "platform/linux/os_operations_linux.h"
#include "platform/text_encoding.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using trayvo::ctlCdrom;
using Clock = std::chrono::steady_clock;

// Often enough to time a media change to a few milliseconds, seldom enough
// not to crowd out the emulated drive under TCG.
constexpr std::chrono::milliseconds watchInterval{10};

std::optional<std::int32_t> parseNumber(std::string_view text)
{
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int usage()
{
    std::cerr << "usage: trayvo_drivecheck list\n"
                 "       trayvo_drivecheck probe INDEX [TIMES]\n"
                 "       trayvo_drivecheck watch INDEX EXPECTED LIMIT_MS\n"
                 "       trayvo_drivecheck open|close INDEX\n"
                 "       trayvo_drivecheck explore INDEX OPENER\n"
                 "       trayvo_drivecheck gone INDEX LIMIT_MS\n";
    return 2;
}

int list(const ctlCdrom& drives)
{
    const auto& roots = drives.cdromDrives();
    for (int index = 0; index < drives.upperBound(); ++index)
        std::cout << index << ' ' << trayvo::toUtf8(roots[static_cast<std::size_t>(index)]) << '\n';
    std::cout << "count " << drives.upperBound() << std::endl;
    return 0;
}

int probe(const ctlCdrom& drives, std::int32_t index, std::int32_t times)
{
    for (std::int32_t i = 0; i < times; ++i)
        std::cout << (drives.HasDisc(index) ? 1 : 0) << std::endl;
    return 0;
}

// Flushes each line: the host reads them as they come, and acts on the first
// one while the watch goes on.
int watch(const ctlCdrom& drives, std::int32_t index, bool expected, std::chrono::milliseconds limit)
{
    const Clock::time_point start = Clock::now();
    const auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    std::optional<bool> last;
    for (long probes = 1;; ++probes) {
        const bool present = drives.HasDisc(index);
        if (present != last)
            std::cout << "seen " << (present ? 1 : 0) << " at " << elapsedMs() << " ms" << std::endl;
        last = present;
        if (present == expected) {
            std::cout << "reached " << (expected ? 1 : 0) << " after " << probes << " probes" << std::endl;
            return 0;
        }
        if (Clock::now() - start >= limit) {
            std::cout << "limit " << limit.count() << " ms passed after " << probes << " probes" << std::endl;
            return 1;
        }
        std::this_thread::sleep_for(watchInterval);
    }
}

// The program's third button hands the selector's text, the drive's root, to
// ExploreDrive; so does this.
int explore(ctlCdrom& drives, std::int32_t index)
{
    if (index < 0 || index >= drives.upperBound())
        return usage();
    try {
        drives.ExploreDrive(drives.cdromDrives()[static_cast<std::size_t>(index)]);
    } catch (const trayvo::FolderNotOpened& error) {
        std::cout << error.what() << std::endl;
        return 1;
    }
    std::cout << "ok" << std::endl;
    return 0;
}

// A window keeps the list it built at start-up while drives come and go; this
// builds it, lets the host unplug the drive, and then probes and presses the buttons.
int whenGone(ctlCdrom& drives, std::int32_t index, std::chrono::milliseconds limit)
{
    if (index < 0 || index >= drives.upperBound())
        return usage();
    const std::string root = trayvo::toUtf8(drives.cdromDrives()[static_cast<std::size_t>(index)]);
    std::cout << "listed " << root << " disc " << drives.HasDisc(index) << std::endl;
    const Clock::time_point start = Clock::now();
    for (std::error_code ec; std::filesystem::exists(root, ec) || ec;) {
        if (Clock::now() - start >= limit) {
            std::cout << "limit " << limit.count() << " ms passed with " << root << " still there" << std::endl;
            return 1;
        }
        std::this_thread::sleep_for(watchInterval);
    }
    std::cout << "gone disc " << drives.HasDisc(index) << std::endl;
    drives.OpenDoor(index);
    drives.CloseDoor(index);
    std::cout << "returned" << std::endl;
    return 0;
}

int run(const std::vector<std::string_view>& args)
{
    if (args.empty())
        return usage();
    const std::string_view command = args[0];
    // Only explore starts anything, and then the stand-in rather than the
    // desktop's opener.
    trayvo::LinuxLocations locations;
    if (command == "explore" && args.size() == 3)
        locations.opener = std::string(args[2]);
    trayvo::LinuxOsOperations os(locations);
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    if (command == "list" && args.size() == 1)
        return list(drives);
    if (command == "explore" && args.size() == 3) {
        const std::optional<std::int32_t> index = parseNumber(args[1]);
        return index ? explore(drives, *index) : usage();
    }

    std::vector<std::int32_t> numbers;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::optional<std::int32_t> number = parseNumber(args[i]);
        if (!number)
            return usage();
        numbers.push_back(*number);
    }
    if (command == "probe" && (numbers.size() == 1 || numbers.size() == 2))
        return probe(drives, numbers[0], numbers.size() == 2 ? numbers[1] : 1);
    if (command == "watch" && numbers.size() == 3 && (numbers[1] == 0 || numbers[1] == 1) && numbers[2] >= 0)
        return watch(drives, numbers[0], numbers[1] == 1, std::chrono::milliseconds(numbers[2]));
    if (command == "open" && numbers.size() == 1) {
        drives.OpenDoor(numbers[0]);
        return 0;
    }
    if (command == "close" && numbers.size() == 1) {
        drives.CloseDoor(numbers[0]);
        return 0;
    }
    if (command == "gone" && numbers.size() == 2 && numbers[1] >= 0)
        return whenGone(drives, numbers[0], std::chrono::milliseconds(numbers[1]));
    return usage();
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(std::vector<std::string_view>(argv + 1, argv + argc));
    } catch (const std::exception& error) {
        std::cerr << "trayvo_drivecheck: " << error.what() << std::endl;
        return 2;
    }
}

// What the program's drive operations cost against the least the kernel
// needs for the same answer. Runs inside the QEMU guest of tests/qemu, which
// bench/qemu_drive_cost.py starts; times are taken here, in the guest, so
// that the command channel to the host is not in them.
//
//   list                      as trayvo_drivecheck: "INDEX ROOT" lines, then "count N"
//   probe INDEX N             N HasDisc calls, and N times what they cannot do
//                             with less: open the node, CDROM_DRIVE_STATUS,
//                             CDROM_DISC_STATUS, close; alternating; then
//                             the time of each of those four steps
//   tray INDEX N EJECT        N openings and closings of the tray by the
//                             program, and N by util-linux's EJECT (a process
//                             each time, as a user would run it); alternating
//
// Prints one "NAME MEDIAN_US MIN_US MAX_US" line per figure.

#include "drives/ctlCdrom.h"
#include "platform/linux/os_operations_linux.h"
#include "platform/text_encoding.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

using trayvo::ctlCdrom;
using Clock = std::chrono::steady_clock;

class Figures {
public:
    void time(const std::string& name, const std::function<void()>& action)
    {
        const Clock::time_point start = Clock::now();
        action();
        samples_[name].push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }

    void print() const
    {
        for (const auto& [name, values] : samples_) {
            std::vector<double> sorted = values;
            std::ranges::sort(sorted);
            std::cout << name << ' ' << sorted[sorted.size() / 2] << ' ' << sorted.front() << ' '
                      << sorted.back() << std::endl;
        }
    }

private:
    std::map<std::string, std::vector<double>> samples_;
};

// What a disc check cannot do with less. The result is used, so that the
// calls cannot be left out.
bool rawProbe(const std::string& node)
{
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int drive = ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT);
    const int disc = ::ioctl(fd, CDROM_DISC_STATUS, 0);
    ::close(fd);
    return drive == CDS_DISC_OK && (disc == CDS_DATA_1 || disc == CDS_DATA_2 || disc == CDS_AUDIO || disc == CDS_MIXED);
}

void runProcess(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " failed");
}

int usage()
{
    std::cerr << "usage: drive_cost list | probe INDEX N | tray INDEX N EJECT\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        trayvo::LinuxOsOperations os;
        ctlCdrom drives(os);
        drives.ListCdromDrives();
        if (args.size() == 1 && args[0] == "list") {
            for (int index = 0; index < drives.upperBound(); ++index)
                std::cout << index << ' ' << trayvo::toUtf8(drives.cdromDrives()[static_cast<std::size_t>(index)])
                          << '\n';
            std::cout << "count " << drives.upperBound() << std::endl;
            return 0;
        }
        if (args.size() < 3)
            return usage();
        const int index = std::stoi(args[1]);
        const int times = std::stoi(args[2]);
        if (index < 0 || index >= drives.upperBound() || times < 1)
            return usage();
        const std::string node = trayvo::toUtf8(drives.cdromDrives()[static_cast<std::size_t>(index)]);
        Figures figures;
        if (args[0] == "probe" && args.size() == 3) {
            int agreed = 0;
            for (int i = 0; i < times; ++i) {
                bool program = false;
                bool raw = false;
                figures.time("has_disc", [&] { program = drives.HasDisc(index); });
                figures.time("open_2_ioctls_close", [&] { raw = rawProbe(node); });
                agreed += program == raw ? 1 : 0;
            }
            // Timing two different answers would compare nothing.
            if (agreed != times)
                throw std::runtime_error("HasDisc and the plain probe disagree");
            // Where the plain probe's time goes, step by step.
            for (int i = 0; i < times; ++i) {
                int fd = -1;
                figures.time("step_open", [&] { fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
                if (fd < 0)
                    throw std::runtime_error("cannot open " + node);
                figures.time("step_drive_status", [&] { ::ioctl(fd, CDROM_DRIVE_STATUS, CDSL_CURRENT); });
                figures.time("step_disc_status", [&] { ::ioctl(fd, CDROM_DISC_STATUS, 0); });
                figures.time("step_close", [&] { ::close(fd); });
            }
        } else if (args[0] == "tray" && args.size() == 4) {
            for (int i = 0; i < times; ++i) {
                figures.time("program_open_tray", [&] { drives.OpenDoor(index); });
                figures.time("program_close_tray", [&] { drives.CloseDoor(index); });
                figures.time("eject_open_tray", [&] { runProcess({args[3], node}); });
                figures.time("eject_close_tray", [&] { runProcess({args[3], "-t", node}); });
            }
        } else {
            return usage();
        }
        figures.print();
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "drive_cost: " << error.what() << std::endl;
        return 2;
    }
}

// Runs under run_with_mock_udisks.py, which provides the buses and the mock
// UDisks2 with the block devices described there.
#include "platform/linux/tray_devices_linux.h"
#include "platform/linux/udisks2_linux.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

namespace trayvo {

void PrintTo(UnmountOutcome outcome, std::ostream* out)
{
    *out << "unmount outcome " << static_cast<int>(outcome);
}

namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        throw std::runtime_error(std::string(name) + " is not set: run this through run_with_mock_udisks.py");
    return value;
}

// Runs act with the system bus that the variable bus names instead.
template <typename Act>
auto onBus(const char* bus, Act act)
{
    const std::string usual = environment("DBUS_SYSTEM_BUS_ADDRESS");
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", environment(bus).c_str(), 1);
    auto result = act();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", usual.c_str(), 1);
    return result;
}

// "/media/user/数据 光盘", spelt out in UTF-8 so that the source's own
// encoding cannot matter.
const std::string labelMount = "/media/user/\xe6\x95\xb0\xe6\x8d\xae \xe5\x85\x89\xe7\x9b\x98";

// The time these tests give an operation.
constexpr std::chrono::seconds testTimeLimit = 2s;

TEST(Udisks2, FindsTheServiceOnlyOnABusWhereItRunsAndNeverStartsIt)
{
    Udisks2 udisks;
    EXPECT_EQ(udisks.unmountFilesystems("sr1"), UnmountOutcome::Unmounted);
    EXPECT_EQ(onBus("TRAYVO_TEST_NO_BUS", [&] { return udisks.unmountFilesystems("sr1"); }), UnmountOutcome::NoService);
    // The runner shows afterwards that activation would leave the marker.
    EXPECT_EQ(onBus("TRAYVO_TEST_IDLE_BUS", [&] { return udisks.unmountFilesystems("sr1"); }),
              UnmountOutcome::NoService);
    EXPECT_EQ(onBus("TRAYVO_TEST_IDLE_BUS", [&] { return udisks.mount("sr1"); }), std::nullopt);
    EXPECT_FALSE(fs::exists(environment("TRAYVO_TEST_ACTIVATION_MARKER"))) << "the service was started by activation";
}

// The mock refuses, as UDisks2 does, to unmount what is not mounted and to
// mount what is, and takes a filesystem off one mount point per Unmount; it
// also refuses every call that would ask for a password.
TEST(Udisks2, UnmountsAndMountsOnlyWhatItMayWithoutAskingForAPassword)
{
    Udisks2 udisks;
    // Mounted in two places: off both, and then there is nothing to unmount.
    EXPECT_EQ(udisks.unmountFilesystems("sr0"), UnmountOutcome::Unmounted);
    EXPECT_EQ(udisks.unmountFilesystems("sr0"), UnmountOutcome::Unmounted);
    EXPECT_EQ(udisks.unmountFilesystems("sr13"), UnmountOutcome::NotUnmounted)
        << "a filesystem still mounted elsewhere passed for unmounted";
    EXPECT_EQ(udisks.unmountFilesystems("sr2"), UnmountOutcome::NotUnmounted) << "a busy filesystem passed for unmounted";
    // No filesystem at all (an audio CD), or a device UDisks2 does not know:
    // it cannot tell what the kernel has mounted.
    EXPECT_EQ(udisks.unmountFilesystems("sr3"), UnmountOutcome::NotKnown);
    EXPECT_EQ(udisks.unmountFilesystems("sr9"), UnmountOutcome::NotKnown);

    // The mount path exactly as UDisks2 chose it.
    EXPECT_EQ(udisks.mount("sr4"), labelMount);
    EXPECT_EQ(udisks.mount("sr5"), "/media/user/OLD DISC");
    for (const char* refused : {"sr6", "sr3", "sr9"})
        EXPECT_EQ(udisks.mount(refused), std::nullopt) << refused;
}

// The tray devices as the program makes them. UDisks2 answers every
// question about sr9 with an error, which tells nothing of what the kernel
// has mounted: here its table has the disc mounted where it cannot come off.
TEST(Udisks2, TheProgramsFolderAndTrayCommandsGoThroughItAndAnErrorIsNoLeaveToEject)
{
    LinuxTrayDevices devices({}, std::make_unique<Udisks2>());
    EXPECT_EQ(devices.discFolder("/nonexistent/sr7"), labelMount);
    EXPECT_FALSE(devices.unmountFilesystems("/nonexistent/sr8")) << "a busy disc passed for unmounted";
    EXPECT_TRUE(devices.unmountFilesystems("/nonexistent/sr10"));

    std::string pattern = ::testing::TempDir() + "trayvo-udisks-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const std::string node = (dir / "sr9").string();
    if (::mknod(node.c_str(), S_IFBLK | 0600, ::makedev(11, 9)) != 0) {
        fs::remove_all(dir);
        GTEST_SKIP() << "needs leave to make a device node";
    }
    std::ofstream(dir / "mountinfo") << "61 22 11:9 / " << (dir / "not-a-mount").string() << " ro - iso9660 x ro\n";
    LinuxTrayDevices mounted({.mountInfo = dir / "mountinfo"}, std::make_unique<Udisks2>());
    EXPECT_FALSE(mounted.unmountFilesystems(node)) << "a mounted disc passed for unmounted";
    fs::remove_all(dir);
}

// Buses that took the connection and then said nothing, or hung up; a real
// bus daemon stopped with SIGSTOP; a mock that answers sr12's two calls 1.2 s
// late each, each within the deadline, the two together not, and sr11's
// mount points only after 3 s. None tells whether a disc is mounted, and
// each costs at most the time limit, with a margin for a busy machine.
TEST(Udisks2, AnAnswerLateOrNeverIsNoAnswerAndTheDeadlineCoversEveryCall)
{
    Udisks2 udisks(testTimeLimit);
    const auto timed = [](auto act) {
        const auto start = std::chrono::steady_clock::now();
        auto result = act();
        EXPECT_LE(std::chrono::steady_clock::now() - start, testTimeLimit + 3s) << "a call overran the time limit";
        return result;
    };
    for (const char* bus : {"TRAYVO_TEST_SILENT_BUS", "TRAYVO_TEST_HANGUP_BUS", "TRAYVO_TEST_STOPPED_BUS"}) {
        EXPECT_EQ(timed([&] { return onBus(bus, [&] { return udisks.unmountFilesystems("sr1"); }); }),
                  UnmountOutcome::NotUnmounted)
            << bus;
    }
    EXPECT_EQ(timed([&] { return onBus("TRAYVO_TEST_SILENT_BUS", [&] { return udisks.mount("sr4"); }); }),
              std::nullopt);
    EXPECT_EQ(timed([&] { return udisks.mount("sr12"); }), std::nullopt);
    EXPECT_EQ(timed([&] { return udisks.unmountFilesystems("sr11"); }), UnmountOutcome::NotUnmounted)
        << "a mounted disc whose mount points came too late passed for unmounted";
}

} // namespace
} // namespace trayvo

// Runs under run_with_mock_udisks.py, which provides the buses and the mock
// UDisks2 with the block devices described there.
#include "platform/linux/tray_devices_linux.h"
#include "platform/linux/udisks2_linux.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace trayvo {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        throw std::runtime_error(std::string(name) + " is not set: run this through run_with_mock_udisks.py");
    return value;
}

// What connecting finds with the system bus at address instead.
std::unique_ptr<MountService> connectThrough(const std::string& address)
{
    const std::string usual = environment("DBUS_SYSTEM_BUS_ADDRESS");
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    std::unique_ptr<MountService> service = Udisks2::connect();
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", usual.c_str(), 1);
    return service;
}

// "/media/user/数据 光盘", spelt out in UTF-8 so that the source's own
// encoding cannot matter.
const std::string labelMount = "/media/user/\xe6\x95\xb0\xe6\x8d\xae \xe5\x85\x89\xe7\x9b\x98";

TEST(Udisks2PathElement, EscapesEveryByteOutsideAsciiLettersAndDigits)
{
    EXPECT_EQ(udisks2PathElement("AZaz09"), "AZaz09");
    EXPECT_EQ(udisks2PathElement("sr_0 a/b"), "sr_5f0_20a_2fb");
    // 光 and a NUL: each byte, unsigned, in lowercase hex.
    EXPECT_EQ(udisks2PathElement(std::string("\xe5\x85\x89\0", 4)), "_e5_85_89_00");
}

TEST(Udisks2Connect, FindsTheServiceOnlyOnABusWhereItRuns)
{
    EXPECT_NE(Udisks2::connect(), nullptr);
    EXPECT_EQ(connectThrough(environment("TRAYVO_TEST_NO_BUS")), nullptr);
    // The runner shows afterwards that activation would leave the marker.
    EXPECT_EQ(connectThrough(environment("TRAYVO_TEST_IDLE_BUS")), nullptr);
    EXPECT_FALSE(std::filesystem::exists(environment("TRAYVO_TEST_ACTIVATION_MARKER")))
        << "connect() started the service by activation";
}

// The mock refuses, as UDisks2 does, to unmount what is not mounted and to
// mount what is; it also refuses every call that would ask for a password.
TEST(Udisks2Unmount, UnmountsOnlyWhatIsMountedWithoutAskingForAPassword)
{
    const std::unique_ptr<MountService> udisks = Udisks2::connect();
    ASSERT_NE(udisks, nullptr);

    // Mounted in two places: one Unmount covers both.
    EXPECT_TRUE(udisks->unmountFilesystems("sr0"));
    EXPECT_TRUE(udisks->unmountFilesystems("sr0"));
    EXPECT_TRUE(udisks->unmountFilesystems("sr1"));

    // No filesystem at all (an audio CD), or a device UDisks2 does not know:
    // nothing of it can be mounted.
    EXPECT_TRUE(udisks->unmountFilesystems("sr3"));
    EXPECT_TRUE(udisks->unmountFilesystems("sr9"));

    EXPECT_FALSE(udisks->unmountFilesystems("sr2")) << "a busy filesystem passed for unmounted";
}

TEST(Udisks2Mount, GivesTheMountPathExactlyAsUdisks2ChoseIt)
{
    const std::unique_ptr<MountService> udisks = Udisks2::connect();
    ASSERT_NE(udisks, nullptr);

    EXPECT_EQ(udisks->mount("sr4"), labelMount);
    EXPECT_EQ(udisks->mount("sr5"), "/media/user/OLD DISC");
    EXPECT_EQ(udisks->mount("sr6"), std::nullopt);
    EXPECT_EQ(udisks->mount("sr3"), std::nullopt);
    EXPECT_EQ(udisks->mount("sr9"), std::nullopt);
}

// The tray devices as the program makes them, over UDisks2. No node is in the
// kernel's mount table: these are not even there.
TEST(Udisks2InThePrograms, TheFolderAndTrayCommandsGoThroughUdisks2)
{
    LinuxTrayDevices devices({}, &Udisks2::connect);
    EXPECT_EQ(devices.discFolder("/nonexistent/sr7"), labelMount);
    EXPECT_FALSE(devices.unmountFilesystems("/nonexistent/sr8")) << "a busy disc passed for unmounted";
    EXPECT_TRUE(devices.unmountFilesystems("/nonexistent/sr10"));
}

} // namespace
} // namespace trayvo

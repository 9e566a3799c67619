#include "drives/ctlCdrom.h"
#include "platform/linux/mci_linux.h"
#include "platform/text_encoding.h"
#include "tests/fakes/fake_os_operations.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

namespace trayvo::mci {
namespace {

// Drives that only record what is done to them; sr0's disc cannot be
// unmounted.
struct FakeDevices final : TrayDevices {
    struct Drive final : TrayDrive {
        explicit Drive(std::string& record) : log(record) {}
        ~Drive() override { log += "release;"; }
        bool eject() override { log += "eject;"; return true; }
        bool closeTray() override { log += "close tray;"; return true; }
        std::string& log;
    };
    bool isOpticalDrive(const std::string& node) const override { return node.starts_with("/dev/sr"); }
    std::unique_ptr<TrayDrive> open(const std::string& node) override
    {
        log += "open " + node + ';';
        return std::make_unique<Drive>(log);
    }
    bool unmountFilesystems(const std::string& node) override
    {
        log += "unmount " + node + ';';
        if (std::exchange(unmountThrows, false))
            throw std::runtime_error("unmount failed");
        return node != "/dev/sr0";
    }
    std::string log;
    bool unmountThrows = false; // once
};

TEST(Mci, CarriesOutTheDriveModulesTrayCommandsAndNoOthers)
{
    FakeDevices devices;
    Interpreter mci(devices);
    const std::tuple<std::string, std::uint32_t, std::string> rows[]{
        {"set nowCD door open wait", notCarriedOut, ""},
        {"open /dev/sda type CDAudio alias nowCD wait", notCarriedOut, ""},
        {"open /dev/sr0 type CDAudio alias nowCD wait", 0, "open /dev/sr0;"},
        {"open /dev/sr1 type CDAudio alias nowCD wait", notCarriedOut, ""},
        {"set nowCD door ajar wait", notCarriedOut, ""},
        {"play nowCD wait", notCarriedOut, ""},
        {"set nowCD door open wait", notCarriedOut, "unmount /dev/sr0;"},
        {"close nowCD", 0, "release;"},
        {"close nowCD", notCarriedOut, ""},
    };
    for (const auto& [command, result, log] : rows) {
        devices.log.clear();
        EXPECT_EQ(mci.send(command), result) << command;
        EXPECT_EQ(devices.log, log) << command;
    }

    // The drive module's own commands move the tray, and an action that
    // throws half-way lets go of its drive all the same.
    testing::FakeOsOperations os;
    os.candidates = {u"/dev/sr2", u"/dev/sr1"};
    os.types = {{u"/dev/sr2", DriveType::Cdrom}, {u"/dev/sr1", DriveType::Cdrom}};
    os.mciResult = [&](const std::u16string& command) { return mci.send(toUtf8(command)); };
    ctlCdrom drives(os);
    drives.ListCdromDrives();
    devices.log.clear();
    devices.unmountThrows = true;
    EXPECT_THROW(drives.OpenDoor(0), std::runtime_error);
    drives.OpenDoor(1);
    drives.CloseDoor(1);
    EXPECT_EQ(devices.log, "open /dev/sr2;unmount /dev/sr2;release;open /dev/sr1;unmount /dev/sr1;eject;release;"
                           "open /dev/sr1;close tray;release;")
        << "a tray moved that was not asked for, or a drive was left open";
}

} // namespace
} // namespace trayvo::mci

#include "drives/ctlCdrom.h"
#include "platform/linux/mci_interpreter.h"
#include "platform/text_encoding.h"
#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/fake_tray_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trayvo::mci {
namespace {

using testing::FakeDevices;

TEST(MciParser, ReadsTheTrayCommandsAndRejectsEverythingElse)
{
    const std::pair<std::string, Error> rows[]{
        {"OPEN \"/dev/my drive\" TYPE cdaudio ALIAS nowCD", Success},
        {"  set\tnowCD   Door Closed  ", Success},
        {"close nowCD wait", Success},
        {"", MissingCommandString},
        {"play nowCD", UnrecognizedCommand},
        {"open /dev/sr0 alias a", DeviceTypeRequired},
        {"open /dev/sr0 type cdaudio wait wait", DuplicateFlags},
        {"open \"/dev/sr0 type cdaudio", NoClosingQuote},
        {"set nowCD wait", MissingParameter},
        {"set nowCD door ajar", UnrecognizedKeyword},
        {"open " + std::string(2000, 'x') + " type cdaudio", ParamOverflow},
    };
    for (const auto& [text, expected] : rows) {
        const Command command = parse(text);
        const Error got = std::holds_alternative<ParseError>(command) ? std::get<ParseError>(command).error : Success;
        EXPECT_EQ(got, expected) << '"' << text << '"';
    }
    const auto open = std::get<OpenCommand>(parse("open \"/dev/my drive\" type CDAudio wait"));
    EXPECT_EQ(open.alias, "/dev/my drive");
    EXPECT_TRUE(open.wait);
}

TEST(MciInterpreter, OpensOnlyOpticalDrivesOncePerAliasAndReportsFailures)
{
    FakeDevices devices;
    Interpreter mci(devices);
    EXPECT_EQ(mci.send("open /dev/sda type cdaudio alias a"), InvalidDeviceName);
    EXPECT_EQ(mci.send("open /dev/sr0 type waveaudio alias a"), InvalidDeviceName);
    EXPECT_EQ(mci.send("set a door open"), InvalidDeviceName);
    EXPECT_TRUE(devices.log.empty());

    devices.failing = {"/dev/sr1"};
    EXPECT_EQ(mci.send("open /dev/sr1 type CDAudio alias nowCD"), Success);
    EXPECT_EQ(mci.send("open /dev/sr0 type CDAudio alias NOWcd"), DuplicateAlias);
    EXPECT_EQ(mci.send("set nowcd door open"), Hardware);
    EXPECT_EQ(mci.send("set nowCD door closed"), Hardware);
    EXPECT_EQ(devices.openCount, 1);
    EXPECT_EQ(mci.send("close NowCd"), Success);
    EXPECT_EQ(mci.send("close nowCD"), InvalidDeviceName);
    EXPECT_EQ(devices.log, (std::vector<std::string>{"open /dev/sr1", "unmount /dev/sr1", "eject /dev/sr1",
                                                     "close tray /dev/sr1"}));
}

// What the drive module sends, carried out by the interpreter over drives
// that do nothing but record.
TEST(TrayCommands, TheDriveModuleAndTheInterpreterSpeakTheSameLanguage)
{
    FakeDevices devices;
    Interpreter mci(devices);
    trayvo::testing::FakeOsOperations os;
    os.candidates = {u"/dev/sda", u"/dev/sr0", u"/dev/sr1"};
    os.types = {{u"/dev/sr0", DriveType::Cdrom}, {u"/dev/sr1", DriveType::Cdrom}};
    std::vector<std::uint32_t> results;
    os.mciResult = [&](const std::u16string& command) { return results.emplace_back(mci.send(toUtf8(command))); };
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    drives.OpenDoor(1);
    drives.CloseDoor(1);
    EXPECT_EQ(results, std::vector<std::uint32_t>(6, Success));
    EXPECT_EQ(devices.log, (std::vector<std::string>{"open /dev/sr1", "unmount /dev/sr1", "eject /dev/sr1",
                                                     "open /dev/sr1", "close tray /dev/sr1"}));
    EXPECT_EQ(devices.openCount, 0);

    // A disc that cannot be unmounted keeps the tray shut: no eject is tried,
    // and the drive is let go all the same.
    devices.busy = {"/dev/sr0"};
    drives.OpenDoor(0);
    EXPECT_EQ(results.at(7), DeviceLocked);
    EXPECT_EQ(devices.log.back(), "unmount /dev/sr0");
    EXPECT_EQ(devices.openCount, 0);

    // An action that throws half-way lets go of its drive all the same: the
    // next action, on the other drive, opens that one and moves it.
    devices.busy.clear();
    devices.log.clear();
    devices.unmountThrowsOnce = true;
    EXPECT_THROW(drives.OpenDoor(0), std::runtime_error);
    drives.OpenDoor(1);
    EXPECT_EQ(devices.log, (std::vector<std::string>{"open /dev/sr0", "unmount /dev/sr0", "open /dev/sr1",
                                                     "unmount /dev/sr1", "eject /dev/sr1"}));
    EXPECT_EQ(std::vector(results.end() - 3, results.end()), std::vector<std::uint32_t>(3, Success));
    EXPECT_EQ(devices.openCount, 0);
}

} // namespace
} // namespace trayvo::mci

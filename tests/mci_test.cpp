#include "platform/linux/mci_interpreter.h"
#include "tests/fakes/fake_tray_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace trayvo::mci {
namespace {

struct Row {
    std::string text;
    Error expected;
};

TEST(MciParser, ReadsTheTrayCommandsAndRejectsEverythingElse)
{
    const std::string longDevice(2000, 'x');
    const std::vector<Row> rows{
        {"open /dev/sr0 type CDAudio alias nowCD wait", Success},
        {"OPEN /dev/sr0 TYPE cdaudio ALIAS nowCD", Success},
        {"  open\t/dev/sr0   type cdaudio  alias  a  ", Success},
        {"open \"/dev/my drive\" type cdaudio alias a", Success},
        {"set nowCD door open wait", Success},
        {"Set NOWCD Door Closed", Success},
        {"close nowCD", Success},
        {"close nowCD wait", Success},
        {"", MissingCommandString},
        {"   ", MissingCommandString},
        {"play nowCD", UnrecognizedCommand},
        {"opened /dev/sr0 type cdaudio", UnrecognizedCommand},
        {"open", MissingDeviceName},
        {"open /dev/sr0", DeviceTypeRequired},
        {"open /dev/sr0 type", MissingStringArgument},
        {"open /dev/sr0 type cdaudio alias", MissingStringArgument},
        {"open /dev/sr0 type cdaudio alias a alias b", DuplicateFlags},
        {"open /dev/sr0 type cdaudio wait wait", DuplicateFlags},
        {"open /dev/sr0 type cdaudio shareable", UnrecognizedKeyword},
        {"open \"/dev/sr0 type cdaudio", NoClosingQuote},
        {"set", MissingDeviceName},
        {"set nowCD", MissingParameter},
        {"set nowCD wait", MissingParameter},
        {"set nowCD door", MissingParameter},
        {"set nowCD door ajar", UnrecognizedKeyword},
        {"set nowCD door open door closed", DuplicateFlags},
        {"set nowCD audio all off", UnrecognizedKeyword},
        {"close", MissingDeviceName},
        {"close nowCD now", UnrecognizedKeyword},
        {"close nowCD wait wait", DuplicateFlags},
        {"open " + longDevice + " type cdaudio", ParamOverflow},
    };
    for (const Row& row : rows) {
        const Command command = parse(row.text);
        const Error got = std::holds_alternative<ParseError>(command) ? std::get<ParseError>(command).error : Success;
        EXPECT_EQ(got, row.expected) << '"' << row.text << '"';
    }

    const auto open = std::get<OpenCommand>(parse("open \"/dev/my drive\" type CDAudio wait"));
    EXPECT_EQ(open.device, "/dev/my drive");
    EXPECT_EQ(open.alias, "/dev/my drive");
    EXPECT_TRUE(open.wait);
    const auto set = std::get<SetDoorCommand>(parse("set nowCD door closed"));
    EXPECT_FALSE(set.open);
    EXPECT_FALSE(set.wait);
}

using testing::FakeDevices;

TEST(MciInterpreter, MovesTheDoorThroughOneOpenDrivePerAlias)
{
    FakeDevices devices;
    Interpreter mci(devices);
    EXPECT_EQ(mci.send("open /dev/sr0 type CDAudio alias nowCD wait"), Success);
    EXPECT_EQ(mci.send("open /dev/sr0 type CDAudio alias NOWcd wait"), DuplicateAlias);
    EXPECT_EQ(devices.openCount, 1);
    EXPECT_EQ(mci.send("set nowcd door open wait"), Success);
    EXPECT_EQ(mci.send("set nowCD door closed wait"), Success);
    EXPECT_EQ(mci.send("close nowCD"), Success);
    EXPECT_EQ(devices.openCount, 0);
    EXPECT_EQ(devices.log, (std::vector<std::string>{"open /dev/sr0", "unmount /dev/sr0", "eject /dev/sr0",
                                                     "close tray /dev/sr0"}));

    // Once closed, the alias is gone.
    EXPECT_EQ(mci.send("set nowCD door open wait"), InvalidDeviceName);
    EXPECT_EQ(mci.send("close nowCD"), InvalidDeviceName);
}

TEST(MciInterpreter, RefusesWhatIsNoOpticalDriveAndReportsFailures)
{
    FakeDevices devices;
    Interpreter mci(devices);
    EXPECT_EQ(mci.send("open /dev/sda type cdaudio alias a"), InvalidDeviceName);
    EXPECT_EQ(mci.send("open /dev/sr0 type waveaudio alias a"), InvalidDeviceName);
    EXPECT_EQ(mci.send("open type CDAudio alias nowCD wait"), UnrecognizedKeyword); // no root at all
    EXPECT_TRUE(devices.log.empty());

    devices.busy = {"/dev/sr0"};
    devices.failing = {"/dev/sr1"};
    EXPECT_EQ(mci.send("open /dev/sr0 type cdaudio alias mounted"), Success);
    EXPECT_EQ(mci.send("open /dev/sr1 type cdaudio alias broken"), Success);
    EXPECT_EQ(devices.openCount, 2);
    // A disc that cannot be unmounted keeps the tray shut: no eject is tried.
    EXPECT_EQ(mci.send("set mounted door open"), DeviceLocked);
    EXPECT_EQ(mci.send("set broken door open"), Hardware);
    EXPECT_EQ(mci.send("set broken door closed"), Hardware);
    EXPECT_EQ(devices.log, (std::vector<std::string>{"open /dev/sr0", "open /dev/sr1", "unmount /dev/sr0",
                                                     "unmount /dev/sr1", "eject /dev/sr1", "close tray /dev/sr1"}));
}

TEST(MciInterpreter, EveryOpenedDriveIsReleased)
{
    FakeDevices devices;
    {
        Interpreter mci(devices);
        EXPECT_EQ(mci.send("open /dev/sr0 type cdaudio alias a"), Success);
        EXPECT_EQ(mci.send("open /dev/sr1 type cdaudio alias b"), Success);
        EXPECT_EQ(mci.send("close a"), Success);
        EXPECT_EQ(devices.openCount, 1);
    }
    EXPECT_EQ(devices.openCount, 0);
}

} // namespace
} // namespace trayvo::mci

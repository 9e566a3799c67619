#include "drives/ctlCdrom.h"
#include "tests/fakes/fake_os_operations.h"

#include <gtest/gtest.h>

namespace trayvo {
namespace {

using testing::FakeOsOperations;

TEST(ctlCdrom, ListsOpticalDrivesInOrderThenOneUnfilledSlot)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"F:\\", u"D:\\"});
    for (auto type : {DriveType::Removable, DriveType::Remote, DriveType::RamDisk, DriveType::Unknown})
        os.types[DriveRoot{static_cast<char16_t>(u'G' + static_cast<int>(type)), u':', u'\\'}] = type;
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    EXPECT_EQ(drives.cdromDrives(), (std::vector<DriveRoot>{u"D:\\", u"F:\\", u""}));
    EXPECT_EQ(drives.upperBound(), 2);

    // Built again, the list starts afresh rather than growing.
    drives.ListCdromDrives();
    EXPECT_EQ(drives.upperBound(), 2);
}

TEST(ctlCdrom, NoDriveAndEveryLetterADrive)
{
    FakeOsOperations none = FakeOsOperations::withCdroms({});
    ctlCdrom noDrives(none);
    noDrives.ListCdromDrives();
    EXPECT_EQ(noDrives.upperBound(), 0);
    EXPECT_EQ(noDrives.cdromDrives(), std::vector<DriveRoot>{DriveRoot{}});

    FakeOsOperations all;
    all.candidates = FakeOsOperations::driveLetters();
    for (const auto& root : all.candidates)
        all.types[root] = DriveType::Cdrom;
    ctlCdrom allDrives(all);
    allDrives.ListCdromDrives();
    EXPECT_EQ(allDrives.upperBound(), 26);
    ASSERT_EQ(allDrives.cdromDrives().size(), 27u);
    EXPECT_EQ(allDrives.cdromDrives().front(), u"A:\\");
    EXPECT_EQ(allDrives.cdromDrives()[25], u"Z:\\");
}

TEST(ctlCdrom, HasDiscAsksForTheDriveAtTheIndex)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    os.discs = {u"D:\\"};
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    EXPECT_TRUE(drives.HasDisc(0));
    EXPECT_FALSE(drives.HasDisc(1));
    EXPECT_EQ(os.probed, (std::vector<DriveRoot>{u"D:\\", u"F:\\"}));

    os.discs.clear();
    EXPECT_FALSE(drives.HasDisc(0));
}

TEST(ctlCdrom, UnfilledSlotHasNoDiscWithoutAskingTheSystem)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\"});
    os.discs = {u"D:\\", u""};
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    EXPECT_FALSE(drives.HasDisc(1));
    EXPECT_TRUE(os.probed.empty());
}

TEST(ctlCdrom, PositionOutsideTheListIsASubscriptError)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\"});
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    for (std::int32_t index : {-1, 2, INT32_MAX, INT32_MIN}) {
        try {
            drives.HasDisc(index);
            ADD_FAILURE() << "no error for index " << index;
        } catch (const SubscriptOutOfRange& error) {
            EXPECT_STREQ(error.what(), "下标越界");
        }
    }
    EXPECT_TRUE(os.probed.empty());
}

TEST(ctlCdrom, TrayActionsSendTheThreeCommandsInOrder)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"E:\\"});
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    drives.OpenDoor(1);
    drives.CloseDoor(1);
    EXPECT_EQ(os.mciCommands, (std::vector<std::u16string>{
                                  u"open E:\\ type CDAudio alias nowCD wait",
                                  u"set nowCD door open wait",
                                  u"close nowCD",
                                  u"open E:\\ type CDAudio alias nowCD wait",
                                  u"set nowCD door closed wait",
                                  u"close nowCD",
                              }));
    EXPECT_THROW(drives.OpenDoor(3), SubscriptOutOfRange);
    EXPECT_THROW(drives.CloseDoor(-1), SubscriptOutOfRange);
    EXPECT_EQ(os.mciCommands.size(), 6u);
}

TEST(ctlCdrom, ExploreDriveStartsTheExplorerOnTheRoot)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"F:\\"});
    ctlCdrom drives(os);
    drives.ExploreDrive(u"F:\\");
    ASSERT_EQ(os.started.size(), 1u);
    EXPECT_EQ(os.started[0].first, u"explorer.exe F:\\");
    EXPECT_EQ(os.started[0].second, ShowState::MinimizedActivated);

    os.processStarts = false;
    try {
        drives.ExploreDrive(u"/dev/sr0");
        ADD_FAILURE() << "a failed start went unreported";
    } catch (const FolderNotOpened& error) {
        EXPECT_STREQ(error.what(), "无法打开光驱设备 /dev/sr0 的目录。");
    }
}

} // namespace
} // namespace trayvo

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

    // Built again, the list starts afresh.
    os.types.clear();
    drives.ListCdromDrives();
    EXPECT_EQ(drives.cdromDrives(), std::vector<DriveRoot>{DriveRoot{}});
}

// The unfilled slot is within the list, and holds no disc without asking.
TEST(ctlCdrom, PositionOutsideTheListIsASubscriptErrorAndReachesNoDrive)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\"});
    os.discs = {u""};
    ctlCdrom drives(os);
    drives.ListCdromDrives();

    EXPECT_FALSE(drives.HasDisc(1));
    EXPECT_THROW(drives.HasDisc(-1), SubscriptOutOfRange);
    EXPECT_THROW(drives.HasDisc(2), SubscriptOutOfRange);
    EXPECT_THROW(drives.OpenDoor(2), SubscriptOutOfRange);
    EXPECT_THROW(drives.CloseDoor(-1), SubscriptOutOfRange);
    EXPECT_TRUE(os.probed.empty());
    EXPECT_TRUE(os.mciCommands.empty());
}

} // namespace
} // namespace trayvo

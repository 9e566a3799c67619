#include "platform/linux/mountinfo_linux.h"

#include <gtest/gtest.h>

namespace trayvo {
namespace {

TEST(MountInfo, DecodesTheKernelsEscapes)
{
    EXPECT_EQ(decodeMountInfoField("/media/user/My\\040Disc"), "/media/user/My Disc");
    EXPECT_EQ(decodeMountInfoField("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    EXPECT_EQ(decodeMountInfoField("/media/张三/数据\\040光盘"), "/media/张三/数据 光盘");
    EXPECT_EQ(decodeMountInfoField("x\\040"), "x ");
    // Not escapes: kept as they stand.
    EXPECT_EQ(decodeMountInfoField("\\04"), "\\04");
    EXPECT_EQ(decodeMountInfoField("\\0x1\\"), "\\0x1\\");
    EXPECT_EQ(decodeMountInfoField("\\477"), "\\477");
}

TEST(MountInfo, FindsADiscByDeviceNumberWhateverItsSource)
{
    const std::string text =
        "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
        "61 22 11:0 / /media/user/数据\\040光盘 ro,nosuid shared:30 - iso9660 /dev/sr0 ro,uid=1000\n"
        "62 22 11:1 / /mnt/other ro - udf /dev/disk/by-label/BACKUP ro\n"
        "63 22 11:0 /docs /srv/bound ro - iso9660 /dev/cdrom ro\n"
        "64 22 11:0 / /mnt/tab\\011and\\134slash ro master:2 propagate_from:1 - iso9660 /dev/cdrom ro\n"
        "garbage line\n"
        "65 22 11:x / /bad ro - iso9660 /dev/sr9 ro\n"
        "66 22 11:2 / /no-separator ro shared:3 iso9660 /dev/sr2 ro\n";
    const std::vector<MountEntry> mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[2].source, "/dev/disk/by-label/BACKUP");

    EXPECT_EQ(mountPointsOf(mounts, 11, 0),
              (std::vector<std::string>{"/media/user/数据 光盘", "/mnt/tab\tand\\slash"}));
    EXPECT_EQ(mountPointsOf(mounts, 11, 1), std::vector<std::string>{"/mnt/other"});
    EXPECT_TRUE(mountPointsOf(mounts, 11, 2).empty());
    EXPECT_TRUE(parseMountInfo("").empty());
}

} // namespace
} // namespace trayvo

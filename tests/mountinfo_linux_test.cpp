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

TEST(MountInfo, ReadsEveryWellFormedLine)
{
    const std::string text =
        "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw\n"
        "62 22 11:1 / /mnt/other ro - udf /dev/disk/by-label/BACKUP ro\n"
        "64 22 11:0 / /mnt/tab\\011and\\134slash ro master:2 propagate_from:1 - iso9660 /dev/cdrom ro\n"
        "garbage line\n"
        "65 22 11:x / /bad ro - iso9660 /dev/sr9 ro\n"
        "x 22 11:3 / /bad-id ro - iso9660 /dev/sr3 ro\n"
        "66 22 11:2 / /no-separator ro shared:3 iso9660 /dev/sr2 ro\n";
    const std::vector<MountEntry> mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[1].id, 62u);
    EXPECT_EQ(mounts[1].parentId, 22u);
    EXPECT_EQ(mounts[1].source, "/dev/disk/by-label/BACKUP");
    EXPECT_EQ(mounts[2].mountPoint, "/mnt/tab\tand\\slash");
    EXPECT_TRUE(parseMountInfo("").empty());
}

// The disc is 11:0 throughout, whatever its source field says; the root
// filesystem is mount 22.
TEST(MountInfo, TheDiscsMountsByDeviceNumberAndWhatLiesOverThem)
{
    const std::string root = "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
    struct Row {
        const char* what;
        std::string table;
        std::vector<DiscMount> unmountOrder;
        std::optional<std::string> folder;
        bool covered;
    };
    const Row rows[]{
        {"not mounted", root + "62 22 11:1 / /mnt/other ro - udf /dev/sr1 ro\n", {}, std::nullopt, false},
        {"mounted under its label, and bound in part elsewhere",
         root + "61 22 11:0 / /media/user/数据\\040光盘 ro - iso9660 /dev/sr0 ro\n"
                "62 22 11:0 /docs /srv/bound ro - iso9660 /dev/cdrom ro\n"
                "63 22 11:0 / /mnt/second ro - iso9660 /dev/disk/by-label/X ro\n",
         {{63, "/mnt/second"}, {62, "/srv/bound"}, {61, "/media/user/数据 光盘"}},
         "/media/user/数据 光盘",
         false},
        {"a tmpfs mounted over it", root + "61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                           "70 61 0:50 / /media/d rw - tmpfs tmpfs rw\n",
         {{61, "/media/d"}}, std::nullopt, true},
        {"covered in one place, free in another", root + "61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                                         "62 22 11:0 / /mnt/free ro - iso9660 /dev/sr0 ro\n"
                                                         "70 61 0:50 / /media/d rw - tmpfs tmpfs rw\n",
         {{62, "/mnt/free"}, {61, "/media/d"}}, "/mnt/free", true},
        {"mounted twice at one place", root + "61 22 11:0 / /m ro - iso9660 /dev/sr0 ro\n"
                                              "62 61 11:0 / /m ro - iso9660 /dev/sr0 ro\n",
         {{62, "/m"}, {61, "/m"}}, "/m", false},
        {"mounted twice at one place, a tmpfs over both", root + "61 22 11:0 / /m ro - iso9660 /dev/sr0 ro\n"
                                                                 "62 61 11:0 / /m ro - iso9660 /dev/sr0 ro\n"
                                                                 "70 62 0:50 / /m rw - tmpfs tmpfs rw\n",
         {{62, "/m"}, {61, "/m"}}, std::nullopt, true},
        {"a tmpfs inside it, not over it", root + "61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                                  "70 61 0:50 / /media/d/sub rw - tmpfs tmpfs rw\n",
         {{61, "/media/d"}}, "/media/d", false},
        {"itself over a tmpfs", root + "50 22 0:50 / /m rw - tmpfs tmpfs rw\n"
                                       "61 50 11:0 / /m ro - iso9660 /dev/sr0 ro\n",
         {{61, "/m"}}, "/m", false},
        {"a filesystem over a directory on the way to it, another at its path inside that",
         root + "61 22 11:0 / /mnt/cd ro - iso9660 /dev/sr0 ro\n"
                "70 22 0:50 / /mnt rw - tmpfs tmpfs rw\n"
                "71 70 0:51 / /mnt/cd rw - tmpfs stick rw\n",
         {{61, "/mnt/cd"}}, std::nullopt, true},
        {"mounted again inside a filesystem over a directory on the way to it",
         root + "61 22 11:0 / /mnt/cd ro - iso9660 /dev/sr0 ro\n"
                "70 22 0:50 / /mnt rw - tmpfs tmpfs rw\n"
                "72 70 11:0 / /mnt/cd ro - iso9660 /dev/sr0 ro\n",
         {{72, "/mnt/cd"}, {61, "/mnt/cd"}}, "/mnt/cd", true},
        {"a damaged table whose stack is a loop", "61 62 11:0 / /m ro - iso9660 /dev/sr0 ro\n"
                                                  "62 61 11:0 / /m ro - iso9660 /dev/sr0 ro\n",
         {{62, "/m"}, {61, "/m"}}, std::nullopt, true},
    };
    for (const Row& row : rows) {
        const DiscMounts disc = discMountsOf(parseMountInfo(row.table), 11, 0);
        EXPECT_EQ(disc.unmountOrder, row.unmountOrder) << row.what;
        EXPECT_EQ(disc.folder, row.folder) << row.what;
        EXPECT_EQ(disc.covered, row.covered) << row.what;
    }
}

} // namespace
} // namespace trayvo

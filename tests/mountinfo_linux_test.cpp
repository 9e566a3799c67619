#include "platform/linux/mountinfo_linux.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <ostream>

namespace trayvo {

void PrintTo(const DiscMount& mount, std::ostream* out)
{
    *out << mount.id << " at " << mount.mountPoint;
}

namespace {

// The disc is 11:0 throughout, whatever its source field says; the root
// filesystem is mount 22.
TEST(MountInfo, TheDiscsMountsByDeviceNumberAndWhatLiesOverThem)
{
    const std::string root = "22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n";
    const std::string disc = " ro - iso9660 /dev/sr0 ro\n";
    const std::string tmpfs = " rw - tmpfs tmpfs rw\n";
    struct Row {
        const char* what;
        std::string table;
        std::vector<DiscMount> unmountOrder;
        std::optional<std::string> folder;
        bool covered;
    };
    const Row rows[]{
        {"not mounted", root + "62 22 11:1 / /mnt/other" + disc + "63 22 12:0 / /mnt/third" + disc, {}, {}, false},
        {"mounted under its label, and bound in part elsewhere",
         root + "61 22 11:0 / /media/user/数据\\040光盘" + disc + "62 22 11:0 /docs /srv/bound ro - iso9660 /dev/cdrom ro\n"
                + "63 22 11:0 / /mnt/second ro - iso9660 /dev/disk/by-label/X ro\n",
         {{63, "/mnt/second"}, {62, "/srv/bound"}, {61, "/media/user/数据 光盘"}}, "/media/user/数据 光盘", false},
        {"a tmpfs mounted over it", root + "61 22 11:0 / /media/d" + disc + "70 61 0:50 / /media/d" + tmpfs,
         {{61, "/media/d"}}, {}, true},
        {"covered in one place, free in another",
         root + "61 22 11:0 / /media/d" + disc + "62 22 11:0 / /mnt/free" + disc + "70 61 0:50 / /media/d" + tmpfs,
         {{62, "/mnt/free"}, {61, "/media/d"}}, "/mnt/free", true},
        {"mounted twice at one place", root + "61 22 11:0 / /m" + disc + "62 61 11:0 / /m" + disc,
         {{62, "/m"}, {61, "/m"}}, "/m", false},
        {"mounted twice at one place, a tmpfs over both",
         root + "61 22 11:0 / /m" + disc + "62 61 11:0 / /m" + disc + "70 62 0:50 / /m" + tmpfs,
         {{62, "/m"}, {61, "/m"}}, {}, true},
        {"a tmpfs inside it, not over it", root + "61 22 11:0 / /media/d" + disc + "70 61 0:50 / /media/d/sub" + tmpfs,
         {{61, "/media/d"}}, "/media/d", false},
        {"itself over a tmpfs", root + "50 22 0:50 / /m" + tmpfs + "61 50 11:0 / /m" + disc, {{61, "/m"}}, "/m", false},
        {"a filesystem over a directory on the way to it, another at its path inside that",
         root + "61 22 11:0 / /mnt/cd" + disc + "70 22 0:50 / /mnt" + tmpfs + "71 70 0:51 / /mnt/cd" + tmpfs,
         {{61, "/mnt/cd"}}, {}, true},
        {"mounted again inside a filesystem over a directory on the way to it",
         root + "61 22 11:0 / /mnt/cd" + disc + "70 22 0:50 / /mnt" + tmpfs + "72 70 11:0 / /mnt/cd" + disc,
         {{72, "/mnt/cd"}, {61, "/mnt/cd"}}, "/mnt/cd", true},
        {"a damaged table whose stack is a loop", "61 62 11:0 / /m" + disc + "62 61 11:0 / /m" + disc,
         {{62, "/m"}, {61, "/m"}}, {}, true},
        {"an empty table", "", {}, {}, false},
    };
    for (const Row& row : rows) {
        const DiscMounts mounts = discMountsOf(row.table, ::makedev(11, 0));
        EXPECT_EQ(mounts.unmountOrder, row.unmountOrder) << row.what;
        EXPECT_EQ(mounts.folder, row.folder) << row.what;
        EXPECT_EQ(mounts.covered, row.covered) << row.what;
    }
}

} // namespace
} // namespace trayvo

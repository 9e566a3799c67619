// The Linux drive operations over a scratch directory standing in for
// /sys/block, /dev and the mount table.
#include "platform/linux/os_operations_linux.h"
#include "platform/linux/sysfs_linux.h"
#include "platform/linux/tray_devices_linux.h"
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trayvo {
namespace {
namespace fs = std::filesystem;

// What the mount service was asked, and how it is to answer.
struct MountServiceState {
    bool runs = true;
    bool busy = false;
    std::vector<std::string> calls;
};

struct FakeMountService final : MountService {
    explicit FakeMountService(MountServiceState& shared) : state(shared) {}
    UnmountOutcome unmountFilesystems(const std::string& blockName) override
    {
        if (!state.runs)
            return UnmountOutcome::NoService;
        state.calls.push_back("unmount " + blockName);
        return state.busy ? UnmountOutcome::NotUnmounted : UnmountOutcome::Unmounted;
    }
    std::optional<std::string> mount(const std::string& blockName) override
    {
        if (!state.runs)
            return std::nullopt;
        state.calls.push_back("mount " + blockName);
        return "/media/user/" + blockName;
    }
    MountServiceState& state;
};

class LinuxDrives : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "trayvo-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(root / "dev");
        addDevice("sda", "0\n");
        addDevice("sdb", "0\n", "1\n");
        addDevice("nvme0n1", std::nullopt);
        addDevice("sr2", " 5 \r\n", "1\n");
        addDevice("sr15", "15\n");
        // In real sysfs the entries are links into /sys/devices.
        addDevice("../../devices/sr10", "5\n", "1\n");
        fs::create_directory_symlink("../../devices/sr10", root / "sys" / "block" / "sr10");
    }
    void TearDown() override { fs::remove_all(root); }

    // A block device as sysfs lists it; type is its SCSI peripheral type.
    void addDevice(const std::string& name, const std::optional<std::string>& type, const char* removable = "0\n")
    {
        const fs::path dir = root / "sys" / "block" / name;
        fs::create_directories(dir / "device");
        std::ofstream(dir / "removable") << removable;
        if (type)
            std::ofstream(dir / "device" / "type") << *type;
    }
    std::string node(const std::string& name) const { return (root / "dev" / name).string(); }
    DriveRoot root16(const std::string& name) const { return fromUtf8(node(name)); }
    LinuxLocations locations() const
    {
        return {.sysBlockDir = root / "sys" / "block", .devDir = root / "dev", .mountInfo = root / "mountinfo"};
    }
    LinuxOsOperations os() const { return LinuxOsOperations(locations()); }
    LinuxTrayDevices devices()
    {
        return LinuxTrayDevices(locations(), std::make_unique<FakeMountService>(service));
    }
    // sr0's node as a real block device (11:0), mounted where mountinfo says.
    void discIn(const std::string& mountinfo)
    {
        if (::mknod(node("sr0").c_str(), S_IFBLK | 0600, ::makedev(11, 0)) != 0)
            GTEST_SKIP() << "needs leave to make a device node";
        std::ofstream(root / "mountinfo") << mountinfo;
    }

    fs::path root;
    MountServiceState service;
};

TEST_F(LinuxDrives, EveryBlockDeviceIsListedInNaturalOrderWithItsType)
{
    EXPECT_EQ(os().candidateRoots(), (std::vector<DriveRoot>{root16("nvme0n1"), root16("sda"), root16("sdb"),
                                                           root16("sr2"), root16("sr10"), root16("sr15")}));
    EXPECT_EQ(os().getDriveType(root16("sr2")), DriveType::Cdrom);
    EXPECT_EQ(os().getDriveType(root16("sr10")), DriveType::Cdrom);
    EXPECT_EQ(os().getDriveType(root16("sr15")), DriveType::Fixed);
    EXPECT_EQ(os().getDriveType(root16("sda")), DriveType::Fixed);
    EXPECT_EQ(os().getDriveType(root16("sdb")), DriveType::Removable);
    EXPECT_EQ(os().getDriveType(root16("nvme0n1")), DriveType::Fixed);
    for (const char* unknown : {"sr99", "", ".", ".."})
        EXPECT_EQ(os().getDriveType(root16(unknown)), DriveType::NoRootDir) << unknown;
    EXPECT_EQ(os().getDriveType(u""), DriveType::NoRootDir);

    // The tray commands take only a listed optical drive's own node.
    EXPECT_TRUE(isOpticalDriveNode(locations(), node("sr10")));
    EXPECT_FALSE(isOpticalDriveNode(locations(), node("sda")));
    EXPECT_FALSE(isOpticalDriveNode(locations(), node("sr99")));
    EXPECT_FALSE(isOpticalDriveNode(locations(), (root / "elsewhere" / "sr2").string()));

    const LinuxOsOperations nothing({.sysBlockDir = root / "missing"});
    EXPECT_TRUE(nothing.candidateRoots().empty());
    EXPECT_EQ(nothing.getDriveType(root16("sr2")), DriveType::NoRootDir);
}

std::size_t openDescriptorCount()
{
    const fs::directory_iterator fds("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

TEST_F(LinuxDrives, TheProbeFindsNoDiscWithoutWaitingOrLeakingAndOnlyInABlockDevice)
{
    std::ofstream(node("sr0")) << "not a device";
    fs::create_directory(node("sr3"));
    ASSERT_EQ(::mkfifo(node("sr4").c_str(), 0600), 0);
    std::vector<std::string> names = {"sr0", "sr2", "sr3", "sr4"};
    // Where the test may create device nodes, a real block device that is no
    // CD-ROM (the first loop device) takes the path through the failing ioctl.
    if (::mknod(node("sr5").c_str(), S_IFBLK | 0600, ::makedev(7, 0)) == 0)
        names.emplace_back("sr5");

    const std::size_t descriptorsBefore = openDescriptorCount();
    // A fifo with no writer holds a plain open forever; the alarm ends such a
    // hang with this test's name last in the log.
    ::alarm(10);
    for (const std::string& name : names)
        EXPECT_EQ(os().getDiskFreeSpace(root16(name)).totalClusters, 0u) << name;
    ::alarm(0);
    EXPECT_EQ(os().getDiskFreeSpace(u"").totalClusters, 0u);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST_F(LinuxDrives, TheTrayOpensTheNodeWithoutWaitingAndOnlyAsABlockDevice)
{
    ASSERT_EQ(::mkfifo(node("sr0").c_str(), 0600), 0);
    std::ofstream(node("sr1")) << "a file";
    ::alarm(10); // as for the probe
    EXPECT_EQ(devices().open(node("sr0")), nullptr);
    ::alarm(0);
    EXPECT_EQ(devices().open(node("sr1")), nullptr);
    EXPECT_EQ(devices().open(node("sr9")), nullptr);
}

TEST_F(LinuxDrives, UnmountsThroughTheServiceWhereItRunsElseDirectly)
{
    discIn("61 22 11:0 / " + (root / "not-a-mount-point").string() + " ro - iso9660 /dev/sr0 ro\n");
    EXPECT_TRUE(devices().unmountFilesystems(node("sr0")));
    service.busy = true;
    EXPECT_FALSE(devices().unmountFilesystems(node("sr0")));
    EXPECT_EQ(service.calls, (std::vector<std::string>{"unmount sr0", "unmount sr0"}));

    // Without the service the kernel is asked, and refuses here.
    service.runs = false;
    EXPECT_FALSE(devices().unmountFilesystems(node("sr0")));
    std::ofstream(root / "mountinfo") << "";
    EXPECT_TRUE(devices().unmountFilesystems(node("sr0")));

    // Another filesystem over the disc's mount, or over a directory on the
    // way to it with another at the disc's path inside: neither the service
    // nor the kernel is asked, and the tray stays shut.
    for (const char* covered : {"61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                "70 61 0:50 / /media/d rw - tmpfs tmpfs rw\n",
                                "61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                "70 22 0:50 / /media rw - tmpfs tmpfs rw\n"
                                "71 70 0:51 / /media/d rw - tmpfs stick rw\n"}) {
        std::ofstream(root / "mountinfo") << covered;
        for (const bool runs : {true, false}) {
            service.runs = runs;
            EXPECT_FALSE(devices().unmountFilesystems(node("sr0"))) << "service runs: " << runs << "\n" << covered;
        }
    }
    EXPECT_EQ(service.calls.size(), 2u);
}

TEST_F(LinuxDrives, TheFolderOfAMountedDiscComesFromTheMountTable)
{
    discIn("22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
           "61 22 11:0 / /media/user/My\\040Disc ro - iso9660 /dev/sr0 ro\n"
           "62 22 11:0 / /mnt/second ro - iso9660 /dev/sr0 ro\n");
    service.runs = false;
    EXPECT_EQ(devices().discFolder(node("sr0")), "/media/user/My Disc");
    service.runs = true;
    EXPECT_EQ(devices().discFolder(node("sr0")), "/media/user/My Disc");
    EXPECT_TRUE(service.calls.empty()) << "the service was asked with nothing to ask it";

    // A tmpfs over the disc's only mount: its path shows the tmpfs.
    std::ofstream(root / "mountinfo") << "61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                         "70 61 0:50 / /media/d rw - tmpfs tmpfs rw\n";
    EXPECT_EQ(devices().discFolder(node("sr0")), std::nullopt);
    EXPECT_TRUE(service.calls.empty()) << "the service was asked to name a covered mount";

    std::ofstream(root / "mountinfo") << "";
    EXPECT_EQ(devices().discFolder(node("sr0")), "/media/user/sr0");
    EXPECT_EQ(service.calls, std::vector<std::string>{"mount sr0"});
    service.runs = false;
    EXPECT_EQ(devices().discFolder(node("sr0")), std::nullopt);
}

} // namespace
} // namespace trayvo

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
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace trayvo {

void PrintTo(DriveType type, std::ostream* out)
{
    *out << "drive type " << static_cast<std::uint32_t>(type);
}

namespace {
namespace fs = std::filesystem;

// Records what it was asked; answers as runs and busy say.
struct FakeMountService final : MountService {
    struct State {
        bool runs = true;
        bool busy = false;
        std::vector<std::string> calls;
    };
    explicit FakeMountService(State& shared) : state(shared) {}
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
    State& state;
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
    LinuxTrayDevices devices() { return LinuxTrayDevices(locations(), std::make_unique<FakeMountService>(service)); }
    void mountTable(const std::string& text) const { std::ofstream(root / "mountinfo") << text; }
    // sr0's node as a real block device (11:0), mounted where the table says.
    void discIn(const std::string& table)
    {
        if (::mknod(node("sr0").c_str(), S_IFBLK | 0600, ::makedev(11, 0)) != 0)
            GTEST_SKIP() << "needs leave to make a device node";
        mountTable(table);
    }

    fs::path root;
    FakeMountService::State service;
};

const std::string coveredDisc = "61 22 11:0 / /media/d ro - iso9660 /dev/sr0 ro\n"
                                "70 61 0:50 / /media/d rw - tmpfs tmpfs rw\n";

TEST_F(LinuxDrives, EveryBlockDeviceIsListedInNaturalOrderWithItsType)
{
    EXPECT_EQ(os().candidateRoots(), (std::vector<DriveRoot>{root16("nvme0n1"), root16("sda"), root16("sdb"),
                                                           root16("sr2"), root16("sr10"), root16("sr15")}));
    const std::pair<const char*, DriveType> types[]{
        {"sr2", DriveType::Cdrom},  {"sr10", DriveType::Cdrom}, {"sr15", DriveType::Fixed},
        {"sda", DriveType::Fixed},  {"sdb", DriveType::Removable}, {"nvme0n1", DriveType::Fixed},
        {"sr99", DriveType::NoRootDir}, {"", DriveType::NoRootDir}, {".", DriveType::NoRootDir},
        {"..", DriveType::NoRootDir}};
    for (const auto& [name, type] : types)
        EXPECT_EQ(os().getDriveType(root16(name)), type) << name;
    EXPECT_EQ(os().getDriveType(u""), DriveType::NoRootDir);

    // The tray commands take only a listed optical drive's own node.
    EXPECT_TRUE(isOpticalDriveNode(locations(), node("sr10")));
    EXPECT_FALSE(isOpticalDriveNode(locations(), node("sda")));
    EXPECT_FALSE(isOpticalDriveNode(locations(), node("sr99")));
    EXPECT_FALSE(isOpticalDriveNode(locations(), (root / "elsewhere" / "sr2").string()));

    const LinuxOsOperations nothing({.sysBlockDir = root / "missing"});
    EXPECT_TRUE(nothing.candidateRoots().empty());
}

std::size_t openDescriptorCount()
{
    const fs::directory_iterator fds("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

// A fifo with no writer holds a plain open forever; the alarm ends such a
// hang with the test's name last in the log.
TEST_F(LinuxDrives, TheProbeAndTheTrayOpenOnlyABlockDeviceWithoutWaitingOrLeaking)
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
    ::alarm(10);
    for (const std::string& name : names)
        EXPECT_EQ(os().getDiskFreeSpace(root16(name)).totalClusters, 0u) << name;
    for (const char* name : {"sr0", "sr4", "sr9"})
        EXPECT_EQ(devices().open(node(name)), nullptr) << name;
    ::alarm(0);
    EXPECT_EQ(os().getDiskFreeSpace(u"").totalClusters, 0u);
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
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
    mountTable("");
    EXPECT_TRUE(devices().unmountFilesystems(node("sr0")));

    // Another filesystem over the disc's mount: neither the service nor the
    // kernel is asked, and the tray stays shut.
    mountTable(coveredDisc);
    for (const bool runs : {true, false}) {
        service.runs = runs;
        EXPECT_FALSE(devices().unmountFilesystems(node("sr0"))) << "service runs: " << runs;
    }
    EXPECT_EQ(service.calls.size(), 2u);
}

TEST_F(LinuxDrives, TheFolderOfAMountedDiscComesFromTheMountTable)
{
    discIn("22 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
           "61 22 11:0 / /media/user/My\\040Disc ro - iso9660 /dev/sr0 ro\n"
           "62 22 11:0 / /mnt/second ro - iso9660 /dev/sr0 ro\n");
    EXPECT_EQ(devices().discFolder(node("sr0")), "/media/user/My Disc");
    // Under a tmpfs its path shows the tmpfs.
    mountTable(coveredDisc);
    EXPECT_EQ(devices().discFolder(node("sr0")), std::nullopt);
    EXPECT_TRUE(service.calls.empty()) << "the service was asked with nothing to ask it";

    mountTable("");
    EXPECT_EQ(devices().discFolder(node("sr0")), "/media/user/sr0");
    EXPECT_EQ(service.calls, std::vector<std::string>{"mount sr0"});
    service.runs = false;
    EXPECT_EQ(devices().discFolder(node("sr0")), std::nullopt);
}

} // namespace
} // namespace trayvo

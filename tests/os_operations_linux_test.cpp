#include "platform/linux/os_operations_linux.h"

#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace trayvo {
namespace {
namespace fs = std::filesystem;

void writeFile(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

bool isAllZero(const DiskFreeSpace& space)
{
    return space.sectorsPerCluster == 0 && space.bytesPerSector == 0 && space.freeClusters == 0 &&
           space.totalClusters == 0;
}

// Extra optical drives around sr2 and sr10, 30 of them, so that the list goes
// past the 26 drive letters and interleaves with the named devices.
std::vector<int> extraDriveNumbers()
{
    std::vector<int> numbers;
    for (int n = 3; n <= 33; ++n)
        if (n != 10)
            numbers.push_back(n);
    return numbers;
}

class LinuxOsOperationsTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "trayvo-os-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(sysBlock_());
        fs::create_directories(dev_());
        addDevice("sda", "0\n", "0\n");
        addDevice("sr2", "5", "1\n");
        addDevice("loop0", std::nullopt, "0\n");
        addDevice("sdb", "0\n", "1\n");
        addDevice("nvme0n1", std::nullopt, "0\n");
        fs::create_directories(sysBlock_() / "nvme0n1" / "device");
        for (const int n : extraDriveNumbers())
            addDevice("sr" + std::to_string(n), "5\n", "1\n");
        // In real sysfs the entries are links into /sys/devices.
        addDevice("../devices/sr10", "5\n", "1\n");
        fs::create_directory_symlink("../devices/sr10", sysBlock_() / "sr10");
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void addDevice(const std::string& name, const std::optional<std::string>& type,
                   const std::string& removable) const
    {
        const fs::path dir = sysBlock_() / name;
        fs::create_directories(dir);
        writeFile(dir / "removable", removable);
        if (type) {
            fs::create_directories(dir / "device");
            writeFile(dir / "device" / "type", *type);
        }
    }

    fs::path sysBlock_() const { return root_ / "sys" / "block"; }
    fs::path dev_() const { return root_ / "dev"; }
    DriveRoot node(const std::string& name) const { return fromUtf8((dev_() / name).string()); }
    LinuxOsOperations os() const { return LinuxOsOperations({.sysBlockDir = sysBlock_(), .devDir = dev_()}); }

    fs::path root_;
};

TEST_F(LinuxOsOperationsTest, ListsEveryBlockDeviceInNaturalOrder)
{
    std::vector<DriveRoot> expected = {node("loop0"), node("nvme0n1"), node("sda"), node("sdb")};
    for (int n = 2; n <= 33; ++n)
        expected.push_back(node("sr" + std::to_string(n)));
    EXPECT_EQ(os().candidateRoots(), expected);
    EXPECT_EQ(os().candidateRoots()[4], fromUtf8(dev_().string()) + u"/sr2");
    EXPECT_TRUE(LinuxOsOperations({.sysBlockDir = root_ / "missing", .devDir = dev_()}).candidateRoots().empty());
}

TEST_F(LinuxOsOperationsTest, OnlyScsiTypeFiveIsCdrom)
{
    EXPECT_EQ(os().getDriveType(node("sr2")), DriveType::Cdrom);
    EXPECT_EQ(os().getDriveType(node("sr10")), DriveType::Cdrom);
    for (const int n : extraDriveNumbers())
        EXPECT_EQ(os().getDriveType(node("sr" + std::to_string(n))), DriveType::Cdrom) << n;
    EXPECT_EQ(os().getDriveType(node("sda")), DriveType::Fixed);
    EXPECT_EQ(os().getDriveType(node("sdb")), DriveType::Removable);
    EXPECT_EQ(os().getDriveType(node("loop0")), DriveType::Fixed);
    EXPECT_EQ(os().getDriveType(node("nvme0n1")), DriveType::Fixed);

    addDevice("odd15", "15\n", "0\n");
    addDevice("oddpadded", " 5 \r\n", "0\n");
    addDevice("oddremovable", "", " 1 \n");
    EXPECT_EQ(os().getDriveType(node("odd15")), DriveType::Fixed);
    EXPECT_EQ(os().getDriveType(node("oddpadded")), DriveType::Cdrom);
    EXPECT_EQ(os().getDriveType(node("oddremovable")), DriveType::Removable);
}

TEST_F(LinuxOsOperationsTest, UnknownRootsHaveNoRootDir)
{
    EXPECT_EQ(os().getDriveType(node("sr99")), DriveType::NoRootDir);
    EXPECT_EQ(os().getDriveType(u""), DriveType::NoRootDir);
    EXPECT_EQ(os().getDriveType(node("")), DriveType::NoRootDir);
    EXPECT_EQ(os().getDriveType(node("..")), DriveType::NoRootDir);
    EXPECT_EQ(os().getDriveType(node(".")), DriveType::NoRootDir);
    EXPECT_EQ(LinuxOsOperations({.sysBlockDir = root_ / "missing", .devDir = dev_()}).getDriveType(node("sr2")),
              DriveType::NoRootDir);
}

std::size_t openDescriptorCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST_F(LinuxOsOperationsTest, FreeSpaceIsAllZeroWithoutReadableDisc)
{
    writeFile(dev_() / "sr0", "not a device");
    fs::create_directory(dev_() / "sr3");
    ASSERT_EQ(::mkfifo((dev_() / "sr4").c_str(), 0600), 0);
    std::vector<std::string> names = {"sr0", "sr2", "sr3", "sr4"};
    // Where the test may create device nodes, a real block device that is no
    // CD-ROM (the first loop device) takes the path through the failing ioctl.
    if (::mknod((dev_() / "sr5").c_str(), S_IFBLK | 0600, ::makedev(7, 0)) == 0)
        names.emplace_back("sr5");

    const std::size_t descriptorsBefore = openDescriptorCount();
    // A fifo with no writer blocks a plain open forever; the alarm turns that
    // hang into a failed run should O_NONBLOCK ever go missing.
    ::alarm(10);
    for (const std::string& name : names)
        EXPECT_TRUE(isAllZero(os().getDiskFreeSpace(node(name)))) << name;
    ::alarm(0);
    EXPECT_TRUE(isAllZero(os().getDiskFreeSpace(u"")));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

} // namespace
} // namespace trayvo

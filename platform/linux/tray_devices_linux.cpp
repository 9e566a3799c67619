#include "platform/linux/tray_devices_linux.h"

#include "platform/linux/drive_node_linux.h"
#include "platform/linux/mountinfo_linux.h"
#include "platform/linux/sysfs_linux.h"

#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <iterator>
#include <ranges>

namespace trayvo {
namespace {

class LinuxTrayDrive final : public mci::TrayDrive {
public:
    explicit LinuxTrayDrive(UniqueFd fd) : fd_(std::move(fd)) {}

    // Mounting locked the door, and the kernel unlocks it only when its last
    // user closes the drive: with our own descriptor open, it stays locked
    // after the unmount. As the drive's one user we may unlock it ourselves.
    // The kernel answers a failed eject with a nonzero result that is not
    // always -1, so anything but 0 is a failure.
    bool eject() override
    {
        ::ioctl(fd_.get(), CDROM_LOCKDOOR, 0);
        return ::ioctl(fd_.get(), CDROMEJECT, 0) == 0;
    }
    // Slot-loading, many laptop and USB drives cannot pull a tray in.
    bool closeTray() override { return ::ioctl(fd_.get(), CDROMCLOSETRAY, 0) == 0; }

private:
    UniqueFd fd_;
};

std::string blockName(const std::string& node)
{
    return std::filesystem::path(node).filename().string();
}

std::string readSmallFile(const std::filesystem::path& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

LinuxTrayDevices::LinuxTrayDevices(LinuxLocations locations, MountServiceConnector mountService)
    : locations_(std::move(locations))
    , mountService_(std::move(mountService))
{
}

bool LinuxTrayDevices::isOpticalDrive(const std::string& node) const
{
    return isOpticalDriveNode(locations_, node);
}

std::unique_ptr<mci::TrayDrive> LinuxTrayDevices::open(const std::string& node)
{
    UniqueFd fd = openDriveNode(node);
    if (!fd)
        return nullptr;
    return std::make_unique<LinuxTrayDrive>(std::move(fd));
}

bool LinuxTrayDevices::unmountFilesystems(const std::string& node)
{
    if (const auto service = mountService_())
        return service->unmountFilesystems(blockName(node));
    // No desktop service: unmount directly where permitted, the most recent
    // mount first.
    for (const std::string& point : mountPoints(node) | std::views::reverse)
        if (::umount2(point.c_str(), 0) != 0)
            return false;
    return true;
}

std::optional<std::string> LinuxTrayDevices::discFolder(const std::string& node) const
{
    const std::vector<std::string> points = mountPoints(node);
    if (!points.empty())
        return points.front();
    if (const auto service = mountService_())
        return service->mount(blockName(node));
    return std::nullopt;
}

std::vector<std::string> LinuxTrayDevices::mountPoints(const std::string& node) const
{
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {};
    const std::vector<MountEntry> mounts = parseMountInfo(readSmallFile(locations_.mountInfo));
    return mountPointsOf(mounts, ::major(info.st_rdev), ::minor(info.st_rdev));
}

} // namespace trayvo

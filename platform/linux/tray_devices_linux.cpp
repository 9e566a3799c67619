#include "platform/linux/tray_devices_linux.h"

#include "platform/linux/mountinfo_linux.h"
#include "platform/text_encoding.h"
#include "platform/linux/udisks2_linux.h"
#include "platform/linux/unique_fd_linux.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
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

LinuxTrayDevices::LinuxTrayDevices(const OsOperations& drives, std::filesystem::path mountInfo)
    : drives_(drives)
    , mountInfo_(std::move(mountInfo))
{
}

bool LinuxTrayDevices::isOpticalDrive(const std::string& node) const
{
    const DriveRoot root = fromUtf8(node);
    const std::vector<DriveRoot> roots = drives_.candidateRoots();
    return std::ranges::find(roots, root) != roots.end() && drives_.getDriveType(root) == DriveType::Cdrom;
}

std::unique_ptr<mci::TrayDrive> LinuxTrayDevices::open(const std::string& node)
{
    // Without O_NONBLOCK the kernel would wait for a disc, and close an open
    // tray to look for one.
    UniqueFd fd(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return nullptr;
    return std::make_unique<LinuxTrayDrive>(std::move(fd));
}

bool LinuxTrayDevices::unmountFilesystems(const std::string& node)
{
    if (auto udisks = Udisks2::connect())
        return udisks->unmountFilesystems(blockName(node));
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
    if (auto udisks = Udisks2::connect())
        return udisks->mount(blockName(node));
    return std::nullopt;
}

std::vector<std::string> LinuxTrayDevices::mountPoints(const std::string& node) const
{
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {};
    return mountPointsOf(parseMountInfo(readSmallFile(mountInfo_)), ::major(info.st_rdev), ::minor(info.st_rdev));
}

} // namespace trayvo

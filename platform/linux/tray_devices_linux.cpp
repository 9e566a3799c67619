#include "platform/linux/tray_devices_linux.h"

#include "platform/linux/drive_node_linux.h"
#include "platform/linux/sysfs_linux.h"
#include "platform/linux/unmount_linux.h"
#include "platform/linux/without_admin_linux.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace trayvo {
namespace {

bool isSameDevice(const UniqueFd& one, const UniqueFd& other)
{
    struct stat oneInfo {};
    struct stat otherInfo {};
    return ::fstat(one.get(), &oneInfo) == 0 && ::fstat(other.get(), &otherInfo) == 0
           && S_ISBLK(oneInfo.st_mode) && oneInfo.st_rdev == otherInfo.st_rdev;
}

class LinuxTrayDrive final : public mci::TrayDrive {
public:
    LinuxTrayDrive(UniqueFd fd, std::string node) : fd_(std::move(fd)), node_(std::move(node)) {}

    bool eject() override
    {
        // The drive opens exclusively only once nothing has the disc mounted,
        // also where we cannot see it (another mount namespace), and no
        // program holds the drive exclusively (a burner). Until then the
        // door stays as it is.
        UniqueFd sole(::open(node_.c_str(), O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC));
        if (!sole || !isSameDevice(sole, fd_))
            return false;
        // The kernel ejects only for the drive's one user: this descriptor
        // takes the place of the one the alias opened.
        fd_ = std::move(sole);
        unlockAsOnlyUser();
        // The kernel answers a failed eject with a nonzero result that is not
        // always -1, so anything but 0 is a failure.
        return ::ioctl(fd_.get(), CDROMEJECT, 0) == 0;
    }
    // Slot-loading, many laptop and USB drives cannot pull a tray in.
    bool closeTray() override { return ::ioctl(fd_.get(), CDROMCLOSETRAY, 0) == 0; }

private:
    // A door that someone asked to keep locked stays locked through the
    // kernel's own eject, so it is unlocked first, but only as the drive's
    // one user: root may unlock a drive that others still read from (a
    // ripper holding it open without excluding anyone), so the unlock is
    // asked without root's privilege, and the kernel refuses it then.
    void unlockAsOnlyUser() const
    {
        const WithoutAdminPrivilege unprivileged;
        if (unprivileged.lacksIt())
            ::ioctl(fd_.get(), CDROM_LOCKDOOR, 0);
    }

    UniqueFd fd_;
    std::string node_;
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

LinuxTrayDevices::LinuxTrayDevices(LinuxLocations locations, std::unique_ptr<MountService> mountService)
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
    return std::make_unique<LinuxTrayDrive>(std::move(fd), node);
}

bool LinuxTrayDevices::unmountFilesystems(const std::string& node)
{
    // Unmounting by path would take off whatever lies over the disc's mount,
    // and the disc would stay mounted underneath.
    const DiscMounts mounts = discMounts(node);
    if (mounts.covered)
        return false;
    switch (mountService_->unmountFilesystems(blockName(node))) {
    case UnmountOutcome::Unmounted:
        return true;
    case UnmountOutcome::NotUnmounted:
        return false;
    case UnmountOutcome::NoService:
    case UnmountOutcome::NotKnown:
        break;
    }
    // No desktop service, or one that cannot tell: unmount directly where
    // permitted, each mount only through a path that still leads to it.
    return std::ranges::all_of(mounts.unmountOrder, unmountAtItsPath);
}

std::optional<std::string> LinuxTrayDevices::discFolder(const std::string& node)
{
    const DiscMounts mounts = discMounts(node);
    if (mounts.folder)
        return mounts.folder;
    // Under another filesystem the mount point shows that one, and the
    // service would only name the same path.
    if (mounts.covered)
        return std::nullopt;
    return mountService_->mount(blockName(node));
}

DiscMounts LinuxTrayDevices::discMounts(const std::string& node) const
{
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {};
    return discMountsOf(readSmallFile(locations_.mountInfo), info.st_rdev);
}

} // namespace trayvo

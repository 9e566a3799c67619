#include "platform/linux/os_operations_linux.h"

#include "platform/linux/cdrom_status_linux.h"
#include "platform/linux/drive_node_linux.h"
#include "platform/linux/process_linux.h"
#include "platform/linux/sysfs_linux.h"
#include "platform/text_encoding.h"

#include <linux/cdrom.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

#include <chrono>
#include <climits> // CDSL_CURRENT is INT_MAX, and linux/cdrom.h leaves the include to us
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace trayvo {
namespace {

bool holdsReadableDisc(const UniqueFd& fd)
{
    const int driveStatus = ::ioctl(fd.get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
    const int discStatus = ::ioctl(fd.get(), CDROM_DISC_STATUS, 0);
    return isReadableDisc(driveStatus, discStatus);
}

std::optional<std::uint64_t> capacityBytes(const UniqueFd& fd)
{
    std::uint64_t bytes = 0;
    if (::ioctl(fd.get(), BLKGETSIZE64, &bytes) != 0)
        return std::nullopt;
    return bytes;
}

// How long the opener is given to say that the folder cannot be opened (its
// exit status). Openers hand the folder to the file manager and end within a
// second; one that runs the file manager itself until it is closed has
// opened the folder when it is still running after this.
constexpr std::chrono::seconds openerFailureWait{5};

} // namespace

LinuxOsOperations::LinuxOsOperations(LinuxLocations locations, std::unique_ptr<MountService> mountService)
    : locations_(std::move(locations))
    , trayDevices_(locations_, std::move(mountService))
    , mci_(trayDevices_)
{
}

std::vector<DriveRoot> LinuxOsOperations::candidateRoots() const
{
    std::vector<DriveRoot> roots;
    for (const std::string& node : blockDeviceNodes(locations_))
        roots.push_back(fromUtf8(node));
    return roots;
}

DriveType LinuxOsOperations::getDriveType(const DriveRoot& root) const
{
    return blockDeviceType(locations_, toUtf8(root));
}

DiskFreeSpace LinuxOsOperations::getDiskFreeSpace(const DriveRoot& root) const
{
    if (root.empty())
        return {};
    const UniqueFd fd = openDriveNode(toUtf8(root));
    if (!fd || !holdsReadableDisc(fd))
        return {};
    const std::optional<std::uint64_t> bytes = capacityBytes(fd);
    if (!bytes)
        return {};
    return {.sectorsPerCluster = 1,
            .bytesPerSector = discSectorBytes,
            .freeClusters = 0,
            .totalClusters = discSectorCount(*bytes)};
}

std::uint32_t LinuxOsOperations::sendMciString(const std::u16string& command)
{
    return mci_.send(toUtf8(command));
}

// The one command line the program starts is the file explorer on a drive,
// "explorer.exe " and the drive's root. Here that means the disc's folder in
// the desktop's file manager: the folder is found (or mounted) first and
// handed to the opener as one argument, since a disc's label, chosen by
// whoever burned it, is part of the path. A desktop's opener cannot ask for a
// minimized window, so showState goes unused. The opener's exit status says
// whether the folder opened; this runs off the window's thread, so waiting
// for it holds up nothing but the hourglass.
bool LinuxOsOperations::startProcess(const std::u16string& commandLine, ShowState)
{
    constexpr std::u16string_view explorer = u"explorer.exe ";
    if (!commandLine.starts_with(explorer))
        return false;
    const std::optional<std::string> folder = trayDevices_.discFolder(toUtf8(commandLine.substr(explorer.size())));
    return folder && startDetached({locations_.opener, *folder}, openerFailureWait);
}

// A desktop's opener has no way to ask for a maximized window; the browser
// decides. Whether it started makes no difference to the user here.
void LinuxOsOperations::shellExecute(WindowHandle, const std::u16string& url)
{
    startDetached({locations_.opener, toUtf8(url)});
}

} // namespace trayvo

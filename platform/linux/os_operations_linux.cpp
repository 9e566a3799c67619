#include "platform/linux/os_operations_linux.h"

#include "platform/linux/cdrom_status_linux.h"
#include "platform/linux/drive_node_linux.h"
#include "platform/linux/process_linux.h"
#include "platform/linux/sysfs_linux.h"
#include "platform/text_encoding.h"

#include <linux/cdrom.h>
#include <sys/ioctl.h>

#include <chrono>
#include <climits> // CDSL_CURRENT is INT_MAX, and linux/cdrom.h leaves the include to us
#include <optional>
#include <string_view>
#include <utility>

namespace trayvo {
namespace {

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

// The drive module reads only whether totalClusters is zero, so a readable
// disc is one cluster here and the other figures stay zero. openDriveNode
// refuses the empty root of the list's unfilled slot.
DiskFreeSpace LinuxOsOperations::getDiskFreeSpace(const DriveRoot& root) const
{
    const UniqueFd fd = openDriveNode(toUtf8(root));
    if (!fd)
        return {};
    const int driveStatus = ::ioctl(fd.get(), CDROM_DRIVE_STATUS, CDSL_CURRENT);
    const int discStatus = ::ioctl(fd.get(), CDROM_DISC_STATUS, 0);
    return {.totalClusters = isReadableDisc(driveStatus, discStatus) ? 1u : 0u};
}

std::uint32_t LinuxOsOperations::sendMciString(const std::u16string& command)
{
    return mci_.send(toUtf8(command));
}

// The drive module, written once for both systems, starts the one command
// line Windows knows for a drive's folder: "explorer.exe " and the root. Here
// that is the disc's folder, found or mounted first, handed to the desktop's
// opener as one argument (a disc's label, chosen by whoever burned it, is part
// of the path). The opener cannot ask for a minimized window. Its exit status
// says whether the folder opened; this runs off the window's thread, so the
// wait holds up nothing but the hourglass.
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

#include "platform/linux/os_operations_linux.h"

#include "platform/linux/cdrom_status_linux.h"
#include "platform/linux/natural_order.h"
#include "platform/linux/process_linux.h"
#include "platform/text_encoding.h"
#include "platform/linux/unique_fd_linux.h"

#include <fcntl.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits> // CDSL_CURRENT is INT_MAX, and linux/cdrom.h leaves the include to us
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace trayvo {
namespace fs = std::filesystem;

namespace {

// SCSI peripheral device type of a CD/DVD drive, as sysfs prints it.
constexpr std::string_view scsiTypeCdrom = "5";

std::string_view trimmed(std::string_view text)
{
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The first line of a small sysfs attribute, or an empty string when it
// cannot be read; every attribute used here is a single short line.
std::string readAttribute(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return std::string(trimmed(line));
}

std::vector<std::string> blockDeviceNames(const fs::path& dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    return names;
}

// Only block devices can hold a disc; refusing anything else also keeps the
// CD-ROM ioctl numbers away from character devices that may mean something
// else by them.
UniqueFd openBlockDevice(const std::string& node)
{
    // O_NONBLOCK is essential: opening an optical drive without it makes the
    // kernel close an open tray and wait for the disc, which the user would see
    // as the drive pulling its tray in on its own whenever the list refreshes.
    UniqueFd fd(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {};
    return fd;
}

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

} // namespace

LinuxOsOperations::LinuxOsOperations(LinuxLocations locations)
    : locations_(std::move(locations))
    , trayDevices_(*this, locations_.mountInfo)
    , mci_(trayDevices_)
{
}

std::vector<DriveRoot> LinuxOsOperations::candidateRoots() const
{
    std::vector<std::string> names = blockDeviceNames(locations_.sysBlockDir);
    std::ranges::sort(names, naturalLess);
    std::vector<DriveRoot> roots;
    roots.reserve(names.size());
    for (const std::string& name : names)
        roots.push_back(fromUtf8((locations_.devDir / name).string()));
    return roots;
}

// An empty path means the root names no block device; "." and ".." would
// otherwise point at /sys/block itself or its parent and pass for a disk.
fs::path LinuxOsOperations::blockDir(const DriveRoot& root) const
{
    const fs::path name = fs::path(toUtf8(root)).filename();
    if (name.empty() || name == "." || name == "..")
        return {};
    return locations_.sysBlockDir / name;
}

DriveType LinuxOsOperations::getDriveType(const DriveRoot& root) const
{
    const fs::path dir = blockDir(root);
    std::error_code ec;
    if (dir.empty() || !fs::exists(dir, ec))
        return DriveType::NoRootDir;
    if (readAttribute(dir / "device" / "type") == scsiTypeCdrom)
        return DriveType::Cdrom;
    if (readAttribute(dir / "removable") == "1")
        return DriveType::Removable;
    return DriveType::Fixed;
}

DiskFreeSpace LinuxOsOperations::getDiskFreeSpace(const DriveRoot& root) const
{
    if (root.empty())
        return {};
    const UniqueFd fd = openBlockDevice(toUtf8(root));
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
// minimized window, so showState goes unused.
bool LinuxOsOperations::startProcess(const std::u16string& commandLine, ShowState)
{
    constexpr std::u16string_view explorer = u"explorer.exe ";
    if (!commandLine.starts_with(explorer))
        return false;
    const std::optional<std::string> folder = trayDevices_.discFolder(toUtf8(commandLine.substr(explorer.size())));
    return folder && startDetached({locations_.opener, *folder});
}

// A desktop's opener has no way to ask for a maximized window; the browser
// decides. Whether it started makes no difference to the user here.
void LinuxOsOperations::shellExecute(WindowHandle, const std::u16string& url)
{
    startDetached({locations_.opener, toUtf8(url)});
}

} // namespace trayvo

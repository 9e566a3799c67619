#include "platform/linux/sysfs_linux.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>

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

// An empty name means the node names no block device; "." and ".." would
// otherwise point at /sys/block itself or its parent and pass for a disk.
std::string blockName(const std::string& node)
{
    const fs::path name = fs::path(node).filename();
    if (name.empty() || name == "." || name == "..")
        return {};
    return name.string();
}

} // namespace

std::vector<std::string> blockDeviceNodes(const LinuxLocations& locations)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(locations.sysBlockDir, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    // In the order a person counts them, "sr2" before "sr10".
    std::ranges::sort(names, [](const std::string& a, const std::string& b) {
        return ::strverscmp(a.c_str(), b.c_str()) < 0;
    });
    std::vector<std::string> nodes;
    nodes.reserve(names.size());
    for (const std::string& name : names)
        nodes.push_back((locations.devDir / name).string());
    return nodes;
}

DriveType blockDeviceType(const LinuxLocations& locations, const std::string& node)
{
    const std::string name = blockName(node);
    const fs::path dir = locations.sysBlockDir / name;
    std::error_code ec;
    if (name.empty() || !fs::exists(dir, ec))
        return DriveType::NoRootDir;
    if (readAttribute(dir / "device" / "type") == scsiTypeCdrom)
        return DriveType::Cdrom;
    if (readAttribute(dir / "removable") == "1")
        return DriveType::Removable;
    return DriveType::Fixed;
}

bool isOpticalDriveNode(const LinuxLocations& locations, const std::string& node)
{
    const std::string name = blockName(node);
    return !name.empty() && node == (locations.devDir / name).string()
           && blockDeviceType(locations, node) == DriveType::Cdrom;
}

} // namespace trayvo

#pragma once

#include <filesystem>
#include <string>

namespace trayvo {

// Where the Linux operations find the system. Tests move them into a fake
// tree, or to a stand-in for the desktop's opener.
struct LinuxLocations {
    std::filesystem::path sysBlockDir = "/sys/block";
    std::filesystem::path devDir = "/dev";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
    std::string opener = "xdg-open";
};

} // namespace trayvo

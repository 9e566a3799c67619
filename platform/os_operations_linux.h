#pragma once

#include "platform/os_operations.h"

#include <filesystem>
#include <string>
#include <vector>

namespace trayvo {

// Where the Linux operations find the system. Tests move them into a fake
// tree, or to a stand-in for the desktop's opener.
struct LinuxLocations {
    std::filesystem::path sysBlockDir = "/sys/block";
    std::filesystem::path devDir = "/dev";
    std::string opener = "xdg-open";
};

// Drives on Linux are the block devices the kernel lists under /sys/block,
// reached through their nodes under /dev. Documents and folders open with the
// desktop's opener.
class LinuxOsOperations final : public OsOperations {
public:
    explicit LinuxOsOperations(LinuxLocations locations = {});

    std::vector<DriveRoot> candidateRoots() const override;
    DriveType getDriveType(const DriveRoot& root) const override;
    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override;
    void shellExecute(WindowHandle owner, const std::u16string& url) override;

private:
    std::filesystem::path blockDir(const DriveRoot& root) const;

    LinuxLocations locations_;
};

} // namespace trayvo

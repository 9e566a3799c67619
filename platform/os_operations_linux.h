#pragma once

#include "platform/os_operations.h"

#include <filesystem>
#include <string>
#include <vector>

namespace trayvo {

// Drives on Linux are the block devices the kernel lists under /sys/block,
// reached through their nodes under /dev. Both directories can be moved so
// that tests run against a fake tree.
class LinuxOsOperations final : public OsOperations {
public:
    explicit LinuxOsOperations(std::filesystem::path sysBlockDir = "/sys/block",
                               std::filesystem::path devDir = "/dev");

    std::vector<DriveRoot> candidateRoots() const override;
    DriveType getDriveType(const DriveRoot& root) const override;
    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override;

private:
    std::filesystem::path blockDir(const DriveRoot& root) const;

    std::filesystem::path sysBlockDir_;
    std::filesystem::path devDir_;
};

} // namespace trayvo

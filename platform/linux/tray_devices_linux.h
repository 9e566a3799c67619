#pragma once

#include "platform/linux/mci_interpreter.h"
#include "platform/os_operations.h"

#include <filesystem>
#include <optional>
#include <string>

namespace trayvo {

// The kernel's optical drives as the tray commands reach them: the drive's
// node opened without waiting for a disc, its filesystems unmounted through
// UDisks2 where a desktop runs it and directly otherwise, and the cdrom
// ioctls to move the tray.
class LinuxTrayDevices final : public mci::TrayDevices {
public:
    LinuxTrayDevices(const OsOperations& drives, std::filesystem::path mountInfo);

    bool isOpticalDrive(const std::string& node) const override;
    std::unique_ptr<mci::TrayDrive> open(const std::string& node) override;
    bool unmountFilesystems(const std::string& node) override;

    // The folder where the disc in node is mounted, mounting it through
    // UDisks2 when it is not; nullopt when there is none to be had.
    std::optional<std::string> discFolder(const std::string& node) const;

private:
    std::vector<std::string> mountPoints(const std::string& node) const;

    const OsOperations& drives_;
    std::filesystem::path mountInfo_;
};

} // namespace trayvo

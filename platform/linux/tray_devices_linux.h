#pragma once

#include "platform/linux/locations_linux.h"
#include "platform/linux/mci_interpreter.h"
#include "platform/linux/mount_service_linux.h"

#include <optional>
#include <string>
#include <vector>

namespace trayvo {

// The kernel's optical drives as the tray commands reach them: the drive's
// node opened without waiting for a disc, its filesystems unmounted through
// the desktop's mount service where one runs and directly otherwise, and the
// cdrom ioctls to move the tray.
class LinuxTrayDevices final : public mci::TrayDevices {
public:
    LinuxTrayDevices(LinuxLocations locations, MountServiceConnector mountService);

    bool isOpticalDrive(const std::string& node) const override;
    std::unique_ptr<mci::TrayDrive> open(const std::string& node) override;
    bool unmountFilesystems(const std::string& node) override;

    // The folder where the disc in node is mounted, mounting it through the
    // mount service when it is not; nullopt when there is none to be had.
    std::optional<std::string> discFolder(const std::string& node) const;

private:
    std::vector<std::string> mountPoints(const std::string& node) const;

    LinuxLocations locations_;
    MountServiceConnector mountService_;
};

} // namespace trayvo

#pragma once

#include "platform/linux/locations_linux.h"
#include "platform/linux/mci_linux.h"
#include "platform/linux/mount_service_linux.h"
#include "platform/linux/mountinfo_linux.h"

#include <memory>
#include <optional>
#include <string>

namespace trayvo {

// The kernel's optical drives as the tray commands reach them: the drive's
// node opened without waiting for a disc, its filesystems unmounted through
// the desktop's mount service where one runs and directly otherwise, and the
// cdrom ioctls to move the tray. A disc with another filesystem mounted over
// one of its mounts, or over a folder on the way to one, is left alone: the
// tray stays shut, as for a busy disc.
class LinuxTrayDevices final : public mci::TrayDevices {
public:
    LinuxTrayDevices(LinuxLocations locations, std::unique_ptr<MountService> mountService);

    bool isOpticalDrive(const std::string& node) const override;
    std::unique_ptr<mci::TrayDrive> open(const std::string& node) override;
    bool unmountFilesystems(const std::string& node) override;

    // The folder where the disc in node is mounted, mounting it through the
    // mount service when it is not; nullopt when there is none to be had.
    std::optional<std::string> discFolder(const std::string& node);

private:
    DiscMounts discMounts(const std::string& node) const;

    LinuxLocations locations_;
    std::unique_ptr<MountService> mountService_;
};

} // namespace trayvo

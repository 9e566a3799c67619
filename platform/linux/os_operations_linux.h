#pragma once

#include "platform/linux/locations_linux.h"
#include "platform/linux/mci_linux.h"
#include "platform/linux/tray_devices_linux.h"
#include "platform/linux/udisks2_linux.h"
#include "platform/os_operations.h"

#include <memory>
#include <string>
#include <vector>

namespace trayvo {

// Drives on Linux are the block devices the kernel lists under /sys/block,
// reached through their nodes under /dev. Tray commands are carried out by an
// MCI interpreter over the kernel's cdrom interface; the file explorer's
// command line opens the disc's folder with the desktop's opener, and so do
// web addresses.
class LinuxOsOperations final : public OsOperations {
public:
    explicit LinuxOsOperations(LinuxLocations locations = {},
                               std::unique_ptr<MountService> mountService = std::make_unique<Udisks2>());
    // The interpreter refers to the tray devices beside it, and holds the
    // drives its commands opened.
    LinuxOsOperations(const LinuxOsOperations&) = delete;
    LinuxOsOperations& operator=(const LinuxOsOperations&) = delete;

    std::vector<DriveRoot> candidateRoots() const override;
    DriveType getDriveType(const DriveRoot& root) const override;
    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override;
    std::uint32_t sendMciString(const std::u16string& command) override;
    bool startProcess(const std::u16string& commandLine, ShowState showState) override;
    void shellExecute(WindowHandle owner, const std::u16string& url) override;

private:
    LinuxLocations locations_;
    LinuxTrayDevices trayDevices_;
    mci::Interpreter mci_;
};

} // namespace trayvo

#pragma once

#include "platform/linux/mci_interpreter.h"
#include "platform/os_operations.h"
#include "platform/linux/tray_devices_linux.h"

#include <filesystem>
#include <string>
#include <vector>

namespace trayvo {

// Where the Linux operations find the system. Tests move them into a fake
// tree, or to a stand-in for the desktop's opener.
struct LinuxLocations {
    std::filesystem::path sysBlockDir = "/sys/block";
    std::filesystem::path devDir = "/dev";
    std::filesystem::path mountInfo = "/proc/self/mountinfo";
    std::string opener = "xdg-open";
};

// Drives on Linux are the block devices the kernel lists under /sys/block,
// reached through their nodes under /dev. Tray commands are carried out by an
// MCI interpreter over the kernel's cdrom interface; the file explorer's
// command line opens the disc's folder with the desktop's opener, and so do
// web addresses.
class LinuxOsOperations final : public OsOperations {
public:
    explicit LinuxOsOperations(LinuxLocations locations = {});
    // The tray devices refer back to this object.
    LinuxOsOperations(const LinuxOsOperations&) = delete;
    LinuxOsOperations& operator=(const LinuxOsOperations&) = delete;

    std::vector<DriveRoot> candidateRoots() const override;
    DriveType getDriveType(const DriveRoot& root) const override;
    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override;
    std::uint32_t sendMciString(const std::u16string& command) override;
    bool startProcess(const std::u16string& commandLine, ShowState showState) override;
    void shellExecute(WindowHandle owner, const std::u16string& url) override;

private:
    std::filesystem::path blockDir(const DriveRoot& root) const;

    LinuxLocations locations_;
    LinuxTrayDevices trayDevices_;
    mci::Interpreter mci_;
};

} // namespace trayvo

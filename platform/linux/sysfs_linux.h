#pragma once

#include "platform/linux/locations_linux.h"
#include "platform/os_operations.h"

#include <string>
#include <vector>

namespace trayvo {

// The block devices the kernel lists under /sys/block, named by their nodes
// under /dev ("/dev/sr0"), in natural order ("sr2" before "sr10").
std::vector<std::string> blockDeviceNodes(const LinuxLocations& locations);

// What sysfs tells of the block device named like node's last element:
// Cdrom for SCSI peripheral type 5, else Removable or Fixed; NoRootDir when
// the kernel lists no such device.
DriveType blockDeviceType(const LinuxLocations& locations, const std::string& node);

// Whether node is exactly one of blockDeviceNodes() and an optical drive.
bool isOpticalDriveNode(const LinuxLocations& locations, const std::string& node);

} // namespace trayvo

#pragma once

#include "platform/linux/unique_fd_linux.h"

#include <string>

namespace trayvo {

// The drive's node opened for the cdrom ioctls, never waiting for a disc;
// invalid when it cannot be opened or is no block device.
UniqueFd openDriveNode(const std::string& node);

} // namespace trayvo

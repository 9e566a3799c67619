#pragma once

#include "platform/linux/mountinfo_linux.h"

namespace trayvo {

// Takes mount off at its mount point, but only while that path, walked
// without following any symbolic link, still ends on that very mount: false,
// with nothing unmounted, when it leads anywhere else or the kernel refuses.
bool unmountAtItsPath(const DiscMount& mount);

} // namespace trayvo

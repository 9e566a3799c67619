#include "platform/linux/drive_node_linux.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace trayvo {

// Only block devices can hold a disc; refusing anything else also keeps the
// CD-ROM ioctl numbers away from character devices that may mean something
// else by them.
UniqueFd openDriveNode(const std::string& node)
{
    // O_NONBLOCK is essential: opening an optical drive without it makes the
    // kernel close an open tray and wait for the disc, which the user would see
    // as the drive pulling its tray in on its own whenever the list refreshes
    // or the tray has just been opened.
    UniqueFd fd(::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISBLK(info.st_mode))
        return {};
    return fd;
}

} // namespace trayvo

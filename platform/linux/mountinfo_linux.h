#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trayvo {

// One mount of a disc: the kernel's id for it, and where it is.
struct DiscMount {
    unsigned id = 0;
    std::string mountPoint;
    bool operator==(const DiscMount&) const = default;
};

// The mounts of one disc, as the tray and folder commands may use them. A
// path reaches only the topmost mount at it, and only when no other
// filesystem lies over a folder on the way to it; a mount that its path does
// not reach cannot be unmounted, nor its folder opened, through that path.
struct DiscMounts {
    // Every mount of the disc, the topmost first: the order they come off in.
    std::vector<DiscMount> unmountOrder;
    // A mount point that shows the disc's whole filesystem, nothing over it.
    std::optional<std::string> folder;
    // Some mount of the disc lies under another filesystem, at its own mount
    // point or at a folder on the way there.
    bool covered = false;
};

// The mounts of the filesystem on device in a mountinfo text
// (/proc/self/mountinfo's format). Found by device number, since the source
// field may name /dev/cdrom, a by-label link or anything else.
DiscMounts discMountsOf(std::string_view mountInfo, dev_t device);

} // namespace trayvo

#pragma once

#include <optional>
#include <string>

namespace trayvo {

// How asking the mount service to unmount a device ended.
enum class UnmountOutcome {
    Unmounted,    // nothing of it is mounted any more, also when nothing was
    NotUnmounted, // refused, busy, or no definite answer in time
    NoService,    // no system bus, or nobody runs the service on it
    NotKnown,     // the service answered with an error where it was asked what
                  // is mounted (it knows no filesystem there: an audio CD, a
                  // device it does not list); only the kernel can tell
};

// A desktop's service that mounts and unmounts removable media (UDisks2) on
// behalf of a user who may not do it directly. It is reached inside each
// operation and never held between them.
class MountService {
public:
    virtual ~MountService() = default;

    // Unmounts the filesystem of the block device named blockName (the
    // kernel's name, e.g. "sr0") from every place it is mounted.
    virtual UnmountOutcome unmountFilesystems(const std::string& blockName) = 0;

    // Where the block device's filesystem is mounted: where it already is, or
    // else where the service mounts it now. Nullopt when it could not be
    // mounted (no service, no filesystem, refused, no answer in time).
    virtual std::optional<std::string> mount(const std::string& blockName) = 0;
};

} // namespace trayvo

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace trayvo {

// A desktop's service that mounts and unmounts removable media (UDisks2) on
// behalf of a user who may not do it directly.
class MountService {
public:
    virtual ~MountService() = default;

    // Unmounts the filesystem of the block device named blockName (the
    // kernel's name, e.g. "sr0") from every place it is mounted. True when
    // nothing of it is mounted any more, also when nothing was; false when
    // the service refused, found it busy or did not answer in time.
    virtual bool unmountFilesystems(const std::string& blockName) = 0;

    // Where the block device's filesystem is mounted: where it already is, or
    // else where the service mounts it now. Nullopt when it could not be
    // mounted (no filesystem, refused, no answer in time).
    virtual std::optional<std::string> mount(const std::string& blockName) = 0;
};

// Reaches the mount service, called inside each action and never held
// between them; null where no such service runs.
using MountServiceConnector = std::function<std::unique_ptr<MountService>()>;

} // namespace trayvo

#include "platform/linux/unmount_linux.h"

#include "platform/linux/unique_fd_linux.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace trayvo {
namespace {

// The folder holding a mount point, with no symbolic link anywhere on the
// way: a user who owns a folder on the way could otherwise swap it for a
// link to wherever another filesystem is mounted.
UniqueFd openFolderWithoutLinks(const std::filesystem::path& folder)
{
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    return UniqueFd(static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how)));
}

bool namesMount(const UniqueFd& folder, const std::string& name, unsigned mountId)
{
    struct statx info {};
    return ::statx(folder.get(), name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_MNT_ID, &info) == 0
           && (info.stx_mask & STATX_MNT_ID) != 0 && info.stx_mnt_id == mountId;
}

} // namespace

bool unmountAtItsPath(const DiscMount& mount)
{
    const std::filesystem::path point(mount.mountPoint);
    if (!point.is_absolute() || !point.has_filename())
        return false;
    const UniqueFd folder = openFolderWithoutLinks(point.parent_path());
    const std::string name = point.filename().string();
    if (!folder || !namesMount(folder, name, mount.id))
        return false;
    // Unmounted through the folder just checked, held open, rather than by
    // the path again, which could have changed meanwhile. The folder's own
    // mount is the one held: the disc's stays free to come off.
    const std::string checked = "/proc/self/fd/" + std::to_string(folder.get()) + "/" + name;
    return ::umount2(checked.c_str(), UMOUNT_NOFOLLOW) == 0;
}

} // namespace trayvo

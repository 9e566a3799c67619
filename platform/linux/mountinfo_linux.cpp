#include "platform/linux/mountinfo_linux.h"

#include <libmount.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace trayvo {
namespace {

// One line of the table, as libmount reads it, escapes such as \040 decoded.
struct MountEntry {
    unsigned id = 0;
    unsigned parentId = 0; // the mount this one sits on
    dev_t device = 0;
    std::string root; // the directory of the filesystem mounted here
    std::string mountPoint;
};

using File = std::unique_ptr<FILE, decltype([](FILE* file) { std::fclose(file); })>;
using Table = std::unique_ptr<libmnt_table, decltype([](libmnt_table* table) { ::mnt_unref_table(table); })>;
using Iterator = std::unique_ptr<libmnt_iter, decltype([](libmnt_iter* iterator) { ::mnt_free_iter(iterator); })>;

std::string textOf(const char* field)
{
    return field ? field : "";
}

// Every well-formed line; libmount skips the malformed ones.
std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    if (text.empty())
        return {};
    // Opened for reading only: fmemopen never writes through the pointer.
    const File stream(::fmemopen(const_cast<char*>(text.data()), text.size(), "r"));
    const Table table(::mnt_new_table());
    const Iterator iterator(::mnt_new_iter(MNT_ITER_FORWARD));
    if (!stream || !table || !iterator || ::mnt_table_parse_stream(table.get(), stream.get(), "mountinfo") != 0)
        return {};
    std::vector<MountEntry> mounts;
    libmnt_fs* fs = nullptr;
    while (::mnt_table_next_fs(table.get(), iterator.get(), &fs) == 0) {
        mounts.push_back({.id = static_cast<unsigned>(::mnt_fs_get_id(fs)),
                          .parentId = static_cast<unsigned>(::mnt_fs_get_parent_id(fs)),
                          .device = ::mnt_fs_get_devno(fs),
                          .root = textOf(::mnt_fs_get_root(fs)),
                          .mountPoint = textOf(::mnt_fs_get_target(fs))});
    }
    return mounts;
}

// Whether a lookup of path passes through dir: dir is path or one of the
// folders above it. Mount points in the table are absolute and normalised.
bool isOnTheWayTo(std::string_view dir, std::string_view path)
{
    if (dir == "/")
        return true;
    return path.starts_with(dir) && (path.size() == dir.size() || path[dir.size()] == '/');
}

class MountTree {
public:
    explicit MountTree(const std::vector<MountEntry>& mounts) : mounts_(mounts) {}

    // The mount stacked right over another at its mount point is its child
    // there; the root of the tree is its own parent.
    const MountEntry* coverOf(const MountEntry& mount) const
    {
        const auto cover = std::ranges::find_if(mounts_, [&](const MountEntry& other) {
            return other.parentId == mount.id && other.id != mount.id && other.mountPoint == mount.mountPoint;
        });
        return cover == mounts_.end() ? nullptr : &*cover;
    }

    // Whether a lookup of mount's path gets as far as mount, before anything
    // stacked over it: every mount on the way is reached in turn, and none of
    // its other children sits on a folder the path passes through. A chain of
    // parents longer than the table is a damaged table's loop: not reached.
    bool pathReaches(const MountEntry& mount) const
    {
        const MountEntry* child = &mount;
        for (std::size_t step = 0; step <= mounts_.size(); ++step) {
            if (child->parentId == child->id)
                return true;
            const bool hidden = std::ranges::any_of(mounts_, [&](const MountEntry& sibling) {
                return sibling.parentId == child->parentId && &sibling != child
                       && isOnTheWayTo(sibling.mountPoint, child->mountPoint);
            });
            if (hidden)
                return false;
            child = byId(child->parentId);
            if (!child)
                return true;
        }
        return false;
    }

private:
    const MountEntry* byId(unsigned id) const
    {
        const auto found = std::ranges::find(mounts_, id, &MountEntry::id);
        return found == mounts_.end() ? nullptr : &*found;
    }

    const std::vector<MountEntry>& mounts_;
};

} // namespace

DiscMounts discMountsOf(std::string_view mountInfo, dev_t device)
{
    const std::vector<MountEntry> mounts = parseMountInfo(mountInfo);
    const auto isDisc = [&](const MountEntry& mount) { return mount.device == device; };
    const MountTree tree(mounts);
    DiscMounts disc;
    for (const MountEntry& mount : mounts) {
        if (!isDisc(mount))
            continue;
        disc.unmountOrder.push_back({mount.id, mount.mountPoint});
        const bool reached = tree.pathReaches(mount);
        if (!disc.folder && reached && mount.root == "/" && !tree.coverOf(mount))
            disc.folder = mount.mountPoint;
        // The disc mounted again over itself comes off first; anything else
        // in the stack holds the disc where it is. The steps are bounded,
        // should a damaged table make the stack a loop.
        disc.covered = disc.covered || !reached;
        const MountEntry* cover = tree.coverOf(mount);
        for (std::size_t step = 0; cover && step < mounts.size(); ++step, cover = tree.coverOf(*cover))
            disc.covered = disc.covered || !isDisc(*cover);
    }
    // The kernel lists mounts in the order they were made, so a mount over
    // another comes after it.
    std::ranges::reverse(disc.unmountOrder);
    return disc;
}

} // namespace trayvo

#include "platform/linux/mountinfo_linux.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace trayvo {
namespace {

bool isOctal(char c)
{
    return c >= '0' && c <= '7';
}

std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        if (end > pos)
            fields.push_back(line.substr(pos, end - pos));
        pos = end + 1;
    }
    return fields;
}

std::optional<unsigned> number(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Fields: id, parent, major:minor, root, mount point, options, optional
// fields ending with "-", then type, source and super options.
std::optional<MountEntry> parseLine(std::string_view line)
{
    const std::vector<std::string_view> fields = fieldsOf(line);
    if (fields.size() < 7)
        return std::nullopt;
    const std::size_t colon = fields[2].find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto id = number(fields[0]);
    const auto parentId = number(fields[1]);
    const auto major = number(fields[2].substr(0, colon));
    const auto minor = number(fields[2].substr(colon + 1));
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
        ++separator;
    if (!id || !parentId || !major || !minor || separator + 2 >= fields.size())
        return std::nullopt;
    return MountEntry{.id = *id,
                      .parentId = *parentId,
                      .major = *major,
                      .minor = *minor,
                      .root = decodeMountInfoField(fields[3]),
                      .mountPoint = decodeMountInfoField(fields[4]),
                      .source = decodeMountInfoField(fields[separator + 2])};
}

} // namespace

std::string decodeMountInfoField(std::string_view field)
{
    std::string decoded;
    decoded.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const bool escape = field[i] == '\\' && i + 3 < field.size() && field[i + 1] <= '3'
                            && isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3]);
        if (escape) {
            decoded.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8
                                                + (field[i + 3] - '0')));
            i += 3;
        } else {
            decoded.push_back(field[i]);
        }
    }
    return decoded;
}

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        if (auto entry = parseLine(text.substr(pos, end - pos)))
            mounts.push_back(std::move(*entry));
        pos = end + 1;
    }
    return mounts;
}

namespace {

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

DiscMounts discMountsOf(const std::vector<MountEntry>& mounts, unsigned major, unsigned minor)
{
    const auto isDisc = [&](const MountEntry& mount) { return mount.major == major && mount.minor == minor; };
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

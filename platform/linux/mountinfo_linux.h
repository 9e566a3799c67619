#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace trayvo {

// One line of /proc/self/mountinfo, with its escapes decoded.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // the directory of the filesystem mounted here
    std::string mountPoint;
    std::string source;
};

// The kernel writes blanks, tabs, newlines and backslashes in paths as octal
// escapes (\040 \011 \012 \134); this undoes them.
std::string decodeMountInfoField(std::string_view field);

// Every well-formed line of a mountinfo text; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Where the filesystem on device major:minor is mounted with its own root
// directory at the mount point, in mount order. Found by device number, since
// the source field may name /dev/cdrom, a by-label link or anything else.
std::vector<std::string> mountPointsOf(const std::vector<MountEntry>& mounts, unsigned major, unsigned minor);

} // namespace trayvo

#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace trayvo {

// The desktop user on whose behalf the program runs as root, and what a
// program started for them needs to run as them, in their session.
struct DesktopUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    std::string home = "/";
    // Ours, with the user's name, home and session (its runtime folder and
    // bus) in place of root's.
    std::vector<std::string> environment;
};

// The user whom sudo or pkexec ran the program for as root (PKEXEC_UID,
// SUDO_UID); nullopt when the program is not root, or runs as root on
// nobody's behalf. A user missing from the user database is still that
// user, with no groups beyond their number and the root folder as home.
std::optional<DesktopUser> desktopUserBehindRoot();

} // namespace trayvo

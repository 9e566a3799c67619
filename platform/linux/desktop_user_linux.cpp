#include "platform/linux/desktop_user_linux.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace trayvo {
namespace {

std::optional<uid_t> uidIn(const char* variable)
{
    const char* text = std::getenv(variable);
    if (!text)
        return std::nullopt;
    const std::string_view value(text);
    uid_t uid = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), uid);
    if (error != std::errc() || end != value.data() + value.size())
        return std::nullopt;
    return uid;
}

std::vector<gid_t> groupsOf(const char* name, gid_t gid)
{
    int count = 16;
    std::vector<gid_t> groups;
    for (int attempt = 0; attempt < 4; ++attempt) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(name, gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<std::size_t>(count));
            return groups;
        }
    }
    return {gid};
}

bool isFolderOf(const std::string& path, uid_t uid)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid;
}

std::vector<std::string> environmentFor(uid_t uid, const std::string& name, const std::string& home)
{
    constexpr std::array replaced{"HOME=", "USER=", "LOGNAME=", "XDG_RUNTIME_DIR=", "DBUS_SESSION_BUS_ADDRESS="};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        if (std::ranges::none_of(replaced, [&](const char* prefix) { return variable.starts_with(prefix); }))
            environment.emplace_back(variable);
    }
    environment.push_back("HOME=" + home);
    if (!name.empty()) {
        environment.push_back("USER=" + name);
        environment.push_back("LOGNAME=" + name);
    }
    // The session's own folder, and its bus where the session has one, as
    // systemd's login manager makes them.
    const std::string runtimeDir = "/run/user/" + std::to_string(uid);
    if (isFolderOf(runtimeDir, uid)) {
        environment.push_back("XDG_RUNTIME_DIR=" + runtimeDir);
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=" + runtimeDir + "/bus");
    }
    return environment;
}

} // namespace

std::optional<DesktopUser> desktopUserBehindRoot()
{
    if (::geteuid() != 0)
        return std::nullopt;
    std::optional<uid_t> uid = uidIn("PKEXEC_UID");
    if (!uid)
        uid = uidIn("SUDO_UID");
    if (!uid || *uid == 0)
        return std::nullopt;
    DesktopUser user{.uid = *uid, .gid = static_cast<gid_t>(*uid)};
    std::string name;
    passwd entry {};
    passwd* found = nullptr;
    std::array<char, 4096> buffer{};
    if (::getpwuid_r(*uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        name = entry.pw_name;
        user.gid = entry.pw_gid;
        user.home = entry.pw_dir;
        user.groups = groupsOf(entry.pw_name, entry.pw_gid);
    }
    user.environment = environmentFor(*uid, name, user.home);
    return user;
}

} // namespace trayvo

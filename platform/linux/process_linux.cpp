#include "platform/linux/process_linux.h"

#include "platform/linux/desktop_user_linux.h"
#include "platform/linux/unique_fd_linux.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>

extern char** environ;

namespace trayvo {
namespace {

// What the started program runs as: ourselves, or a desktop user.
struct Launch {
    const char* program = nullptr;
    char* const* argv = nullptr;
    char* const* environment = nullptr;
    const DesktopUser* user = nullptr;
};

void reportError(int reportFd)
{
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(reportFd, &error, sizeof error);
}

// The descriptor the watcher keeps for its report; all above it it closes.
constexpr int watcherReportFd = 3;

// Everything from here runs after fork: only async-signal-safe calls.
// The program itself: it takes on the desktop user's identity, if any, then
// execs; should either fail it reports errno through execReport, which the
// exec closes on success.
[[noreturn]] void becomeProgram(const Launch& launch, int execReport)
{
    if (launch.user) {
        const DesktopUser& user = *launch.user;
        if (::setgroups(user.groups.size(), user.groups.data()) != 0 || ::setgid(user.gid) != 0
            || ::setuid(user.uid) != 0) {
            reportError(execReport);
            ::_exit(127);
        }
        if (::chdir(user.home.c_str()) != 0 && ::chdir("/") != 0)
            ::_exit(127);
    }
    // glibc's search takes our own PATH, whoever the program runs as, and
    // allocates nothing: it is safe here.
    ::execvpe(launch.program, launch.argv, launch.environment);
    reportError(execReport);
    ::_exit(127);
}

// Starts the program and waits for it to end, to report its status through
// exitReport. It outlives our start, so it keeps nothing else of ours open
// meanwhile: no drive, no connection to the display.
[[noreturn]] void watchProgram(const Launch& launch, int execReport, int exitReport)
{
    const pid_t program = ::fork();
    if (program == 0)
        becomeProgram(launch, execReport);
    if (program < 0) {
        reportError(execReport);
        ::_exit(0);
    }
    if (::dup2(exitReport, watcherReportFd) < 0)
        ::_exit(0);
    ::close_range(watcherReportFd + 1, ~0U, 0);
    int status = 0;
    while (::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    [[maybe_unused]] const ssize_t written = ::write(watcherReportFd, &status, sizeof status);
    ::_exit(0);
}

// The first child leaves at once, so that the watcher and the program are
// adopted by init and never wait as zombies for us to reap them.
[[noreturn]] void startInNewSession(const Launch& launch, int execReport, int exitReport)
{
    ::setsid();
    const pid_t watcher = ::fork();
    if (watcher == 0)
        watchProgram(launch, execReport, exitReport);
    if (watcher < 0)
        reportError(execReport);
    ::_exit(0);
}

// Until the program's exec and the watcher have both let go of it, the
// report's pipe stays open; only a failed exec writes to it.
bool execSucceeded(const UniqueFd& execReport)
{
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(execReport.get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == 0;
}

// False only when the program is seen to end in failure within the wait.
bool notFailedWithin(const UniqueFd& exitReport, std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + wait;
    pollfd report{.fd = exitReport.get(), .events = POLLIN, .revents = 0};
    int polled = 0;
    do {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        polled = ::poll(&report, 1, static_cast<int>(std::max(left.count(), std::chrono::milliseconds::rep{0})));
    } while (polled < 0 && errno == EINTR);
    // Still running, or no report at all: it started, and that is all that
    // is known.
    int status = 0;
    if (polled <= 0 || ::read(exitReport.get(), &status, sizeof status) != static_cast<ssize_t>(sizeof status))
        return true;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<std::pair<UniqueFd, UniqueFd>> makePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    return std::pair(UniqueFd(fds[0]), UniqueFd(fds[1]));
}

std::vector<char*> pointersTo(const std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (const std::string& text : texts)
        pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

bool startDetached(const std::vector<std::string>& argv, std::chrono::milliseconds failureWait)
{
    if (argv.empty())
        return false;
    // Made before fork: nothing after it may allocate.
    const std::optional<DesktopUser> user = desktopUserBehindRoot();
    const std::vector<char*> args = pointersTo(argv);
    const std::vector<char*> environment = user ? pointersTo(user->environment) : std::vector<char*>{};
    const Launch launch{.program = argv.front().c_str(),
                        .argv = args.data(),
                        .environment = user ? environment.data() : environ,
                        .user = user ? &*user : nullptr};
    auto execReport = makePipe();
    auto exitReport = makePipe();
    if (!execReport || !exitReport)
        return false;

    const pid_t child = ::fork();
    if (child == 0)
        startInNewSession(launch, execReport->second.get(), exitReport->second.get());
    if (child < 0)
        return false;
    execReport->second.reset();
    exitReport->second.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return execSucceeded(execReport->first) && notFailedWithin(exitReport->first, failureWait);
}

} // namespace trayvo

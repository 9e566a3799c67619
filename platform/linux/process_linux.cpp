#include "platform/linux/process_linux.h"

#include "platform/linux/unique_fd_linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

extern char** environ;

namespace trayvo {
namespace {

// A directory passes access(X_OK), and a file we may not run is no reason to
// stop looking further along PATH: execvp goes on past both.
bool isRunnableFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> findExecutable(const std::string& name)
{
    if (name.empty())
        return std::nullopt;
    if (name.find('/') != std::string::npos)
        return isRunnableFile(name) ? std::optional(name) : std::nullopt;
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!dirs.empty()) {
        const std::size_t end = dirs.find(':');
        const std::string_view dir = dirs.substr(0, end);
        std::string candidate = std::string(dir.empty() ? "." : dir) + '/' + name;
        if (isRunnableFile(candidate))
            return candidate;
        dirs = end == std::string_view::npos ? std::string_view() : dirs.substr(end + 1);
    }
    return std::nullopt;
}

// Runs in the intermediate child after fork: only async-signal-safe calls.
// The grandchild execs the program; should that fail it reports errno through
// the pipe, which the exec closes on success.
[[noreturn]] void forkAndExec(const char* program, char* const argv[], int reportFd)
{
    ::setsid();
    const pid_t grandchild = ::fork();
    if (grandchild == 0) {
        ::execve(program, argv, environ);
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(reportFd, &error, sizeof error);
        ::_exit(127);
    }
    if (grandchild < 0) {
        const int error = errno;
        [[maybe_unused]] const ssize_t written = ::write(reportFd, &error, sizeof error);
    }
    ::_exit(0);
}

bool execSucceeded(const UniqueFd& reportFd)
{
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(reportFd.get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    return got == 0;
}

} // namespace

bool startDetached(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return false;
    const std::optional<std::string> program = findExecutable(argv.front());
    if (!program)
        return false;
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);

    // Two forks, so that the program is adopted by init and never waits as a
    // zombie for us to reap it.
    const pid_t child = ::fork();
    if (child == 0)
        forkAndExec(program->c_str(), args.data(), writeEnd.get());
    if (child < 0)
        return false;
    writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return execSucceeded(readEnd);
}

} // namespace trayvo

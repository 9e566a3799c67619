#include "platform/linux/os_operations_linux.h"
#include "platform/linux/process_linux.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace trayvo {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A stand-in for the desktop's opener, written as a shell script: by
// default it writes each argument it got, one per NUL-terminated record,
// beside itself.
class StubOpener : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "trayvo-opener-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        stub_ = dir_ / "opener";
        writeStub("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$0.args.tmp\"\n"
                  "mv \"$0.args.tmp\" \"$0.args\"\n");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeStub(const std::string& script) const
    {
        std::ofstream(stub_) << script;
        fs::permissions(stub_, fs::perms::owner_all);
    }

    // What the stub received, once it has run; the opener runs detached, so
    // this waits for it, with a limit.
    std::vector<std::string> receivedArguments() const
    {
        const fs::path record = stub_.string() + ".args";
        for (int i = 0; i < 500 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(10ms);
        std::ifstream in(record, std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');)
            args.push_back(arg);
        return args;
    }

    fs::path dir_;
    fs::path stub_;
};

TEST_F(StubOpener, EveryArgumentArrivesUnchangedWithNoShellBetween)
{
    const std::string hostile = "/media/张三/数据 光盘 \"a\" 'b' ; rm -rf ~ $(id) `id` \n end";
    ASSERT_TRUE(startDetached({stub_.string(), hostile, "", "-x"}));
    EXPECT_EQ(receivedArguments(), (std::vector<std::string>{hostile, "", "-x"}));
}

// Mounts every disc under the user's media folder.
struct MountingService final : MountService {
    UnmountOutcome unmountFilesystems(const std::string&) override { return UnmountOutcome::Unmounted; }
    std::optional<std::string> mount(const std::string& blockName) override { return "/media/张三/" + blockName; }
};

TEST_F(StubOpener, TheSiteAndTheDiscsFolderOpenThroughTheOpener)
{
    LinuxOsOperations os({.mountInfo = dir_ / "no-mounts", .opener = stub_.string()},
                         std::make_unique<MountingService>());
    os.shellExecute(0, u"https://quenbrook.example/");
    EXPECT_EQ(receivedArguments(), std::vector<std::string>{"https://quenbrook.example/"});
    fs::remove(stub_.string() + ".args");
    EXPECT_TRUE(os.startProcess(u"explorer.exe /dev/sr0", ShowState::MinimizedActivated));
    EXPECT_EQ(receivedArguments(), std::vector<std::string>{"/media/张三/sr0"});
    EXPECT_FALSE(os.startProcess(u"notepad.exe /dev/sr0", ShowState::MinimizedActivated));
}

// The opener reports through its exit status whether the folder opened.
TEST_F(StubOpener, TheDiscsFolderCountsAsOpenedOnlyWhenTheOpenerSucceeds)
{
    LinuxOsOperations os({.mountInfo = dir_ / "no-mounts", .opener = stub_.string()},
                         std::make_unique<MountingService>());
    writeStub("#!/bin/sh\nexit 4\n");
    EXPECT_FALSE(os.startProcess(u"explorer.exe /dev/sr0", ShowState::MinimizedActivated))
        << "a failing opener passed for an opened folder";
    writeStub("#!/bin/sh\nexit 0\n");
    EXPECT_TRUE(os.startProcess(u"explorer.exe /dev/sr0", ShowState::MinimizedActivated));
}

// Run as root through sudo or pkexec, the program starts the opener as the
// user behind it, in that user's session: never root's file manager.
TEST_F(StubOpener, AsRootOnAUsersBehalfTheOpenerRunsAsThatUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    fs::permissions(dir_, fs::perms::all);
    writeStub("#!/bin/sh\nprintf '%s\\0' \"$(id -u)\" \"$(id -g)\" \"$HOME\" \"$USER\" > \"$0.args.tmp\"\n"
              "mv \"$0.args.tmp\" \"$0.args\"\n");
    fs::permissions(stub_, fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    for (const char* variable : {"SUDO_UID", "PKEXEC_UID"}) {
        ::unsetenv("SUDO_UID");
        ::unsetenv("PKEXEC_UID");
        ::setenv(variable, "65534", 1);
        const bool started = startDetached({stub_.string()});
        ::unsetenv(variable);
        EXPECT_TRUE(started) << variable;
        EXPECT_EQ(receivedArguments(), (std::vector<std::string>{"65534", "65534", "/nonexistent", "nobody"}))
            << variable;
        fs::remove(stub_.string() + ".args");
    }
}

TEST_F(StubOpener, AProgramThatCannotStartIsReported)
{
    EXPECT_FALSE(startDetached({(dir_ / "missing").string(), "a"}));
    EXPECT_FALSE(startDetached({"trayvo-no-such-program-anywhere"}));
    EXPECT_FALSE(startDetached({}));
    // Executable as far as its mode goes, yet the kernel cannot run it.
    writeStub("#!/nonexistent/interpreter\n");
    EXPECT_FALSE(startDetached({stub_.string()}));
    fs::permissions(stub_, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(startDetached({stub_.string()}));
}

// Found by name, the opener is the first file of that name along PATH that
// may be run: a directory named like it, or a file without leave to run it,
// comes first here and is passed over.
TEST_F(StubOpener, ThePathSearchPassesOverWhatCannotBeRun)
{
    const std::string name = stub_.filename().string();
    fs::create_directories(dir_ / "a-directory" / name);
    fs::create_directory(dir_ / "not-runnable");
    std::ofstream(dir_ / "not-runnable" / name) << "#!/bin/sh\n";
    const std::string path = std::getenv("PATH");
    const std::string searched = (dir_ / "a-directory").string() + ':' + (dir_ / "not-runnable").string() + ':'
                                 + dir_.string() + ':' + path;
    ::setenv("PATH", searched.c_str(), 1);
    const bool started = startDetached({name, "/media/disc"});
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_TRUE(started);
    EXPECT_EQ(receivedArguments(), std::vector<std::string>{"/media/disc"});
}

// An opener commonly hands the folder to a file manager it leaves running;
// some run it themselves until it is closed. Neither must hold up the
// window longer than the wait for a failure.
TEST_F(StubOpener, AProgramLeftRunningDoesNotHoldTheStart)
{
    for (const char* script : {"#!/bin/sh\n(while [ -e \"$0\" ]; do sleep 0.05; done) &\n",
                               "#!/bin/sh\nwhile [ -e \"$0\" ]; do sleep 0.05; done\n"}) {
        writeStub(script);
        auto started = std::async(std::launch::async, [this] { return startDetached({stub_.string()}, 500ms); });
        const bool returned = started.wait_for(10s) == std::future_status::ready;
        fs::remove(stub_); // ends the program left running
        EXPECT_TRUE(returned) << "the start waited for a program left running\n" << script;
        EXPECT_TRUE(started.get()) << script;
    }
}

} // namespace
} // namespace trayvo

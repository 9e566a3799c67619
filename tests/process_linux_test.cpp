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

// A stand-in for the desktop's opener, a shell script: by default it writes
// each argument it got, NUL-terminated, beside itself.
class StubOpener : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "trayvo-opener-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        stub_ = dir_ / "opener";
        writeStub(record("for a in \"$@\"; do printf '%s\\0' \"$a\"; done"));
    }
    void TearDown() override { fs::remove_all(dir_); }

    void writeStub(const std::string& script) const
    {
        std::ofstream(stub_) << script;
        fs::permissions(stub_, fs::perms::owner_all);
    }
    // A stub whose record is what body writes.
    static std::string record(const std::string& body)
    {
        return "#!/bin/sh\n{ " + body + "; } > \"$0.args.tmp\"\nmv \"$0.args.tmp\" \"$0.args\"\n";
    }

    // What the stub recorded; it runs detached, so this waits for it.
    std::vector<std::string> received() const
    {
        const fs::path file = stub_.string() + ".args";
        for (int i = 0; i < 500 && !fs::exists(file); ++i)
            std::this_thread::sleep_for(10ms);
        std::ifstream in(file, std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');)
            args.push_back(arg);
        fs::remove(file);
        return args;
    }

    fs::path dir_;
    fs::path stub_;
};

// Mounts every disc under the user's media folder.
struct MountingService final : MountService {
    UnmountOutcome unmountFilesystems(const std::string&) override { return UnmountOutcome::Unmounted; }
    std::optional<std::string> mount(const std::string& blockName) override { return "/media/张三/" + blockName; }
};

TEST_F(StubOpener, TheSiteAndTheDiscsFolderOpenThroughTheOpenerWithEveryArgumentUnchanged)
{
    const std::string hostile = "/media/张三/数据 光盘 \"a\" 'b' ; rm -rf ~ $(id) `id` \n end";
    ASSERT_TRUE(startDetached({stub_.string(), hostile, "", "-x"}));
    EXPECT_EQ(received(), (std::vector<std::string>{hostile, "", "-x"}));

    LinuxOsOperations os({.mountInfo = dir_ / "no-mounts", .opener = stub_.string()},
                         std::make_unique<MountingService>());
    os.shellExecute(0, u"https://quenbrook.example/");
    EXPECT_EQ(received(), std::vector<std::string>{"https://quenbrook.example/"});
    EXPECT_TRUE(os.startProcess(u"explorer.exe /dev/sr0", ShowState::MinimizedActivated));
    EXPECT_EQ(received(), std::vector<std::string>{"/media/张三/sr0"});
    EXPECT_FALSE(os.startProcess(u"notepad.exe /dev/sr0", ShowState::MinimizedActivated));

    // The opener tells through its exit status whether the folder opened.
    writeStub("#!/bin/sh\nexit 4\n");
    EXPECT_FALSE(os.startProcess(u"explorer.exe /dev/sr0", ShowState::MinimizedActivated))
        << "a failing opener passed for an opened folder";
}

// Run as root through sudo or pkexec, the program starts the opener as the
// user behind it, in that user's session: never root's file manager.
TEST_F(StubOpener, AsRootOnAUsersBehalfTheOpenerRunsAsThatUser)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    writeStub(record("printf '%s\\0' \"$(id -u)\" \"$(id -g)\" \"$HOME\" \"$USER\""));
    fs::permissions(dir_, fs::perms::all);
    fs::permissions(stub_, fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    ::unsetenv("SUDO_UID");
    ::unsetenv("PKEXEC_UID");
    for (const char* variable : {"SUDO_UID", "PKEXEC_UID"}) {
        ::setenv(variable, "65534", 1);
        const bool started = startDetached({stub_.string()});
        ::unsetenv(variable);
        EXPECT_TRUE(started) << variable;
        EXPECT_EQ(received(), (std::vector<std::string>{"65534", "65534", "/nonexistent", "nobody"})) << variable;
    }
}

TEST_F(StubOpener, AProgramThatCannotStartIsReported)
{
    EXPECT_TRUE(startDetached({"true"}, 5s)) << "a program named without a path was not found along PATH";
    EXPECT_FALSE(startDetached({(dir_ / "missing").string(), "a"}));
    EXPECT_FALSE(startDetached({"trayvo-no-such-program-anywhere"}));
    EXPECT_FALSE(startDetached({}));
    writeStub("#!/nonexistent/interpreter\n"); // runnable by its mode, not by the kernel
    EXPECT_FALSE(startDetached({stub_.string()}));
    fs::permissions(stub_, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(startDetached({stub_.string()}));
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

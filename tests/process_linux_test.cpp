#include "platform/linux/os_operations_linux.h"
#include "platform/linux/process_linux.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace trayvo {
namespace {
namespace fs = std::filesystem;

// A stand-in for the desktop's opener: writes each argument it got, one per
// NUL-terminated record, into the file named by its environment.
class StubOpener : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = ::testing::TempDir() + "trayvo-opener-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        stub_ = dir_ / "opener";
        std::ofstream(stub_) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$0.args.tmp\"\n"
                                "mv \"$0.args.tmp\" \"$0.args\"\n";
        fs::permissions(stub_, fs::perms::owner_all);
    }

    void TearDown() override { fs::remove_all(dir_); }

    // What the stub received, once it has run; the opener runs detached, so
    // this waits for it, with a limit.
    std::vector<std::string> receivedArguments() const
    {
        const fs::path record = stub_.string() + ".args";
        for (int i = 0; i < 500 && !fs::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
    const std::string hostile = "/media/张三/数据 光盘 \"a\" 'b' ; rm -rf ~ $(touch x) `id` \n end";
    ASSERT_TRUE(startDetached({stub_.string(), hostile, "", "-x"}));
    EXPECT_EQ(receivedArguments(), (std::vector<std::string>{hostile, "", "-x"}));
    EXPECT_FALSE(fs::exists(dir_ / "x"));
}

TEST_F(StubOpener, AProgramThatCannotStartIsReported)
{
    EXPECT_FALSE(startDetached({(dir_ / "missing").string(), "a"}));
    EXPECT_FALSE(startDetached({"trayvo-no-such-program-anywhere"}));
    EXPECT_FALSE(startDetached({}));
    fs::permissions(stub_, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(startDetached({stub_.string()}));
}

TEST_F(StubOpener, TheSiteOpensThroughTheOpener)
{
    LinuxOsOperations os({.opener = stub_.string()});
    os.shellExecute(0, u"https://quenbrook.example/");
    EXPECT_EQ(receivedArguments(), std::vector<std::string>{"https://quenbrook.example/"});
}

} // namespace
} // namespace trayvo

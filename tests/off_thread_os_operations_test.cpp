#include "platform/off_thread_os_operations.h"
#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/fake_window_runtime.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace trayvo {
namespace {

using testing::FakeOsOperations;

TEST(OffThreadOsOperations, WaitsForEachCallThatMayBlockAndHandsBackItsAnswer)
{
    auto fake = std::make_shared<FakeOsOperations>(FakeOsOperations::withCdroms({u"D:\\"}));
    fake->discs = {u"D:\\"};
    fake->mciResult = [](const std::u16string&) { return 263u; };
    fake->processStarts = false;
    testing::FakeWindowRuntime runtime;
    OffThreadOsOperations os(runtime, fake);

    // The drive list reads the system's table, not the drives: no wait.
    EXPECT_EQ(os.candidateRoots().size(), 26u);
    EXPECT_EQ(os.getDriveType(u"D:\\"), DriveType::Cdrom);
    EXPECT_EQ(runtime.waits, 0);

    EXPECT_EQ(os.getDiskFreeSpace(u"D:\\").totalClusters, 1u);
    EXPECT_EQ(os.sendMciString(u"close nowCD"), 263u);
    EXPECT_FALSE(os.startProcess(u"explorer.exe D:\\", ShowState::MinimizedActivated));
    os.shellExecute(7, u"https://quenbrook.example/");
    EXPECT_EQ(runtime.waits, 4);
    EXPECT_EQ(fake->started.at(0).first, u"explorer.exe D:\\");
    EXPECT_EQ(fake->opened.at(0), (std::pair<WindowHandle, std::u16string>{7, u"https://quenbrook.example/"}));

    fake->probeFailure = "drive gone";
    EXPECT_THROW(os.getDiskFreeSpace(u"D:\\"), std::runtime_error);
}

} // namespace
} // namespace trayvo

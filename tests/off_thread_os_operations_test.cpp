#include "platform/call_worker.h"
#include "platform/off_thread_os_operations.h"
#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/fake_window_runtime.h"
#include "tests/fakes/gate.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace trayvo {
namespace {

using testing::FakeOsOperations;
using testing::Gate;

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

    EXPECT_EQ(os.getDiskFreeSpace(u"D:\\").totalClusters, 333000u);
    EXPECT_EQ(os.sendMciString(u"close nowCD"), 263u);
    EXPECT_FALSE(os.startProcess(u"explorer.exe D:\\", ShowState::MinimizedActivated));
    os.shellExecute(7, u"https://quenbrook.example/");
    EXPECT_EQ(runtime.waits, 4);
    EXPECT_EQ(fake->started.at(0).first, u"explorer.exe D:\\");
    EXPECT_EQ(fake->opened.at(0), (std::pair<WindowHandle, std::u16string>{7, u"https://quenbrook.example/"}));

    fake->probeFailure = "drive gone";
    EXPECT_THROW(os.getDiskFreeSpace(u"D:\\"), std::runtime_error);
}

// A runtime whose window is closed while the call blocks: the wait gives up
// at once, as the real ones do, and the call goes on by itself.
class ClosedDuringTheCall final : public WindowRuntime {
public:
    explicit ClosedDuringTheCall(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
    const AppIdentity& app() const override { return identity_; }
    std::unique_ptr<Window> createWindow(const WindowLayout&) override { return nullptr; }
    void runHandler(const Handler& handler) override { handler(); }
    void waitFor(BlockingCall call) override
    {
        worker_.start(std::move(call));
        if (!gate_->waitReached())
            throw std::logic_error("the call never came to the gate");
        throw ProgramEnding();
    }

private:
    struct NoWake final : WakeSignal {
        void raise() override {}
    };
    std::shared_ptr<Gate> gate_;
    AppIdentity identity_;
    CallWorker worker_{std::make_shared<NoWake>()};
};

TEST(OffThreadOsOperations, ACallLeftBehindTouchesOnlyWhatItShares)
{
    const auto gate = std::make_shared<Gate>();
    auto fake = std::make_shared<FakeOsOperations>(FakeOsOperations::withCdroms({u"D:\\"}));
    fake->duringProbe = [gate] { gate->pass(); };
    const std::weak_ptr<FakeOsOperations> operations = fake;
    {
        ClosedDuringTheCall runtime(gate);
        OffThreadOsOperations os(runtime, std::move(fake));
        EXPECT_THROW(os.getDiskFreeSpace(std::u16string(u"D:\\")), ProgramEnding);
    }
    // The window, the decorator and the worker are gone; the call is not.
    EXPECT_FALSE(operations.expired());
    gate->release();
    const auto until = std::chrono::steady_clock::now() + Gate::limit;
    while (!operations.expired() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(operations.expired());
}

} // namespace
} // namespace trayvo

#include "platform/call_worker.h"
#include "tests/fakes/gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

namespace trayvo {
namespace {

using namespace std::chrono_literals;
using testing::Gate;

struct CountedWake final : WakeSignal {
    void raise() override { ++raised; }
    std::atomic<int> raised{0};
};

TEST(CallWorker, RunsEachCallOnItsThreadAndHandsBackWhatItThrew)
{
    const auto wake = std::make_shared<CountedWake>();
    CallWorker worker(wake);
    std::thread::id ranOn;
    worker.start([&] { ranOn = std::this_thread::get_id(); });
    while (!worker.ended(1ms)) {
    }
    EXPECT_FALSE(worker.wakeWhenEnded());
    worker.finish();
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(wake->raised, 0);

    const auto gate = std::make_shared<Gate>();
    worker.start([gate] {
        gate->pass();
        throw std::runtime_error("drive gone");
    });
    ASSERT_TRUE(gate->waitReached());
    EXPECT_FALSE(worker.ended());
    EXPECT_THROW(worker.start([] {}), std::logic_error);
    EXPECT_TRUE(worker.wakeWhenEnded());
    gate->release();
    while (!worker.ended(1ms)) {
    }
    EXPECT_THROW(worker.finish(), std::runtime_error);
    // The worker raises the wake just after it has marked the call ended.
    EXPECT_TRUE(testing::becomesTrue([&] { return wake->raised == 1; })) << "raised " << wake->raised << " times";
    EXPECT_NO_THROW(worker.finish());
}

TEST(CallWorker, LeavesACallThatNeverReturnsBehindAtItsEnd)
{
    const auto gate = std::make_shared<Gate>();
    const auto ended = std::make_shared<std::atomic<bool>>(false);
    {
        CallWorker worker(std::make_shared<CountedWake>());
        worker.start([gate, ended] {
            gate->pass();
            *ended = true;
        });
        ASSERT_TRUE(gate->waitReached());
        // Joining here would wait for the gate, which opens only below.
    }
    EXPECT_FALSE(*ended);
    gate->release();
    EXPECT_TRUE(testing::becomesTrue(*ended));
}

} // namespace
} // namespace trayvo

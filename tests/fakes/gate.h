#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace trayvo::testing {

// Where a call stands still until the test lets it go, as at a drive that
// does not answer. Shared (shared_ptr) with the call, which may outlive the
// test's own scope. Every wait for it has a limit.
struct Gate {
    static constexpr std::chrono::seconds limit{10};

    // Called by the blocked call: says it is here, then waits to be let go,
    // for twice the limit at most, so that a test that never lets it go
    // fails rather than hangs.
    void pass()
    {
        std::unique_lock lock(mutex);
        ++reached;
        changed.notify_all();
        changed.wait_for(lock, 2 * limit, [&] { return open; });
    }
    void release()
    {
        const std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    // Whether a call has come to the gate, within the limit.
    bool waitReached()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return reached > 0; });
    }
    int timesReached()
    {
        const std::lock_guard lock(mutex);
        return reached;
    }

    std::mutex mutex;
    std::condition_variable changed;
    int reached = 0;
    bool open = false;
};

// Whether condition came to hold within the gate's limit: for what another
// thread does after it has let the test go on.
template <typename Condition>
bool becomesTrue(Condition condition)
{
    const auto until = std::chrono::steady_clock::now() + Gate::limit;
    while (!condition() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

} // namespace trayvo::testing

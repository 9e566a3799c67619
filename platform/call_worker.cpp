#include "platform/call_worker.h"

#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace trayvo {

// Shared by the window's thread and the worker; the worker's own reference
// keeps it alive after the CallWorker is gone.
struct CallWorker::State {
    explicit State(std::shared_ptr<WakeSignal> signal) : wake(std::move(signal)) {}

    std::mutex mutex;
    std::condition_variable handedOver;
    std::function<void()> call;   // guarded by mutex
    std::exception_ptr outcome;   // the worker's while running, else the window thread's
    bool running = false;         // guarded by mutex: handed over, not ended
    bool wakeWanted = false;      // guarded by mutex
    bool stopping = false;        // guarded by mutex
    std::atomic<bool> callEnded{true};
    const std::shared_ptr<WakeSignal> wake;
};

CallWorker::CallWorker(std::shared_ptr<WakeSignal> wake)
    : state_(std::make_shared<State>(std::move(wake)))
{
}

CallWorker::~CallWorker()
{
    if (!thread_.joinable())
        return;
    bool blocked = false;
    {
        const std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        blocked = state_->running;
    }
    state_->handedOver.notify_one();
    if (blocked)
        thread_.detach();
    else
        thread_.join();
}

void CallWorker::start(std::function<void()> call)
{
    {
        const std::lock_guard lock(state_->mutex);
        if (state_->running)
            throw std::logic_error("a blocking call was started while another one ran");
        state_->call = std::move(call);
        state_->outcome = nullptr;
        state_->running = true;
        state_->wakeWanted = false;
        state_->callEnded.store(false, std::memory_order_relaxed);
    }
    if (thread_.joinable())
        state_->handedOver.notify_one();
    else
        thread_ = std::thread([state = state_] { serve(state); });
}

bool CallWorker::ended(std::chrono::microseconds spin) const
{
    const auto until = std::chrono::steady_clock::now() + spin;
    while (!state_->callEnded.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        // With one processor this is what lets the worker run at all.
        std::this_thread::yield();
    }
    return true;
}

bool CallWorker::wakeWhenEnded()
{
    const std::lock_guard lock(state_->mutex);
    state_->wakeWanted = state_->running;
    return state_->running;
}

// The outcome is the worker's until the call has ended, and the window
// thread's from then until the next start: no lock, which the worker may
// still hold for a moment, and waiting for it would put this thread to sleep.
void CallWorker::finish()
{
    if (!ended())
        throw std::logic_error("a blocking call was finished before it ended");
    if (const std::exception_ptr outcome = std::exchange(state_->outcome, nullptr))
        std::rethrow_exception(outcome);
}

void CallWorker::serve(const std::shared_ptr<State>& state)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->handedOver.wait(lock, [&] { return state->call || state->stopping; });
        // At the program's end no call is begun any more.
        if (state->stopping)
            return;
        std::function<void()> call = std::move(state->call);
        state->call = nullptr;
        lock.unlock();
        std::exception_ptr outcome;
        try {
            call();
        } catch (...) {
            outcome = std::current_exception();
        }
        call = nullptr; // what it holds goes here, not under the lock
        lock.lock();
        state->outcome = outcome;
        state->running = false;
        state->callEnded.store(true, std::memory_order_release);
        if (std::exchange(state->wakeWanted, false))
            state->wake->raise();
    }
}

} // namespace trayvo

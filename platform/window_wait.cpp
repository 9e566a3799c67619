#include "platform/window_wait.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>

namespace trayvo {
namespace {

// How long the window's thread keeps asking whether a call has ended before
// it runs its loop, to sleep until woken. A drive with a disc answers a
// probe within a millisecond or two, even on a slow machine; picked up while
// spinning, the answer costs the window's thread no second wakeup a tick. A
// slow drive costs the spin once a tick: half a percent of one processor.
constexpr std::chrono::microseconds quickCallSpin{5000};

} // namespace

// What the window's thread and the call's thread share. The call's thread
// keeps its own reference: it may outlive the wait, left blocked in a call
// at the program's end.
//
// The call, and everything it touches, is the call's thread's from start()
// until ended is set, and the window thread's again once it reads ended.
struct WindowWait::Shared {
    std::mutex mutex;
    std::condition_variable handedOver;
    BlockingCall call;              // guarded by mutex
    std::function<void()> wake;     // guarded by mutex
    bool stopping = false;          // guarded by mutex
    std::exception_ptr outcome;     // handed over with ended
    std::atomic<bool> ended{true};
};

WindowWait::WindowWait(HandlerGuard& guard)
    : guard_(guard)
    , shared_(std::make_shared<Shared>())
{
}

// Joins the call's thread when it is idle. One still blocked in a call, a
// drive that does not answer, is left running on its own: joining it would
// hold the program's end for as long as the drive does.
WindowWait::~WindowWait()
{
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->wake = nullptr;
    }
    shared_->handedOver.notify_one();
    if (callEnded())
        thread_.join();
    else
        thread_.detach();
}

void WindowWait::waitFor(BlockingCall call)
{
    const HandlerGuard::Wait wait(guard_);
    // Once the program is ending, no call starts any more: one still left to
    // make on the way out (an alias closed) would block the end.
    if (ending_)
        throw ProgramEnding();
    // Before the first window shows (the main window's load) nothing is on
    // screen to keep answering: the thread would only delay the start.
    windowShown_ = windowShown_ || showsAWindow();
    if (!windowShown_) {
        call();
        return;
    }
    start(std::move(call));
    // Given up when the program ends, the call is left to end on its own.
    if (!ended(quickCallSpin) && !runUntilEnded()) {
        ending_ = true;
        throw ProgramEnding();
    }
    takeOutcome();
}

// The thread starts with the first call, before the call is handed over: a
// thread that cannot start (a process limit) fails this call alone.
void WindowWait::start(BlockingCall call)
{
    if (!thread_.joinable())
        thread_ = std::thread([shared = shared_] { serve(shared); });
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->call = std::move(call);
        shared_->ended.store(false, std::memory_order_relaxed);
    }
    shared_->handedOver.notify_one();
}

bool WindowWait::ended(std::chrono::microseconds spin) const
{
    const auto until = std::chrono::steady_clock::now() + spin;
    while (!callEnded()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        // With one processor this is what lets the call's thread run at all.
        std::this_thread::yield();
    }
    return true;
}

bool WindowWait::callEnded() const
{
    return shared_->ended.load(std::memory_order_acquire);
}

bool WindowWait::wakeWith(std::function<void()> wake)
{
    const std::lock_guard lock(shared_->mutex);
    shared_->wake = std::move(wake);
    return !callEnded();
}

// The outcome is the window thread's once the call has ended: no lock, which
// the call's thread may still hold for a moment.
void WindowWait::takeOutcome()
{
    if (const std::exception_ptr outcome = std::exchange(shared_->outcome, nullptr))
        std::rethrow_exception(outcome);
}

void WindowWait::serve(const std::shared_ptr<Shared>& shared)
{
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->handedOver.wait(lock, [&] { return shared->call || shared->stopping; });
        // At the program's end no call is begun any more.
        if (shared->stopping)
            return;
        BlockingCall call = std::exchange(shared->call, nullptr);
        lock.unlock();
        std::exception_ptr outcome;
        try {
            call();
        } catch (...) {
            outcome = std::current_exception();
        }
        call = nullptr; // what it holds goes here, not under the lock
        lock.lock();
        shared->outcome = outcome;
        shared->ended.store(true, std::memory_order_release);
        if (shared->wake)
            shared->wake();
    }
}

} // namespace trayvo

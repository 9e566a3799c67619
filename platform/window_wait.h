#pragma once

#include "platform/handler_guard.h"
#include "platform/window_runtime.h"

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace trayvo {

// The wait for a blocking call, as both window runtimes make it
// (WindowRuntime::waitFor). The call runs on a thread of the wait's own,
// one call at a time, while the toolkit's loop keeps the windows painting
// and answering the window system; the toolkit holds the user's input back
// meanwhile, and the guard decides what else runs when. Each runtime gives
// its loop.
//
// A call owns what it touches (BlockingCall): when the program ends during a
// call that never returns, the call is left to end on its own, and the
// thread with it.
class WindowWait {
public:
    explicit WindowWait(HandlerGuard& guard);
    virtual ~WindowWait();
    WindowWait(const WindowWait&) = delete;
    WindowWait& operator=(const WindowWait&) = delete;

    void waitFor(BlockingCall call);

protected:
    // Whether this thread has a window on screen.
    virtual bool showsAWindow() const = 0;
    // Runs the window's loop, the user's input held back, until the call
    // ends (true) or the program ends first, its last window closed (false).
    // The loop tells wakeWith how the call's thread is to wake it.
    virtual bool runUntilEnded() = 0;

    HandlerGuard& guard() { return guard_; }
    // From now on until wakeWith(nullptr), the call's end runs wake on the
    // call's thread; false when the call has ended already.
    bool wakeWith(std::function<void()> wake);
    bool callEnded() const;

private:
    struct Shared;
    static void serve(const std::shared_ptr<Shared>& shared);
    void start(BlockingCall call);
    bool ended(std::chrono::microseconds spin) const;
    void takeOutcome();

    HandlerGuard& guard_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool windowShown_ = false; // a window has been on screen
    bool ending_ = false;      // the last window was closed during a wait
};

} // namespace trayvo

#pragma once

#include "platform/call_worker.h"
#include "platform/handler_guard.h"
#include "platform/window_runtime.h"

#include <memory>

namespace trayvo {

// The wait for a blocking call, as both window runtimes make it
// (WindowRuntime::waitFor): the call runs on the worker while the runtime's
// own loop keeps the windows running, and the guard holds back what comes
// meanwhile. Each runtime gives its loop and says whether a window is on
// screen.
class WindowWait {
public:
    WindowWait(HandlerGuard& guard, std::shared_ptr<WakeSignal> wake);
    virtual ~WindowWait() = default;
    WindowWait(const WindowWait&) = delete;
    WindowWait& operator=(const WindowWait&) = delete;

    void waitFor(BlockingCall call);

protected:
    // Whether this thread has a window on screen.
    virtual bool showsAWindow() const = 0;
    // Runs the loop until the worker signals the call's end: true then, false
    // when the program ends first (its last window closed).
    virtual bool runUntilEnded() = 0;

    HandlerGuard& guard() { return guard_; }
    const CallWorker& worker() const { return worker_; }

private:
    HandlerGuard& guard_;
    CallWorker worker_;
    bool windowShown_ = false; // a window has been on screen
    bool ending_ = false;      // the last window was closed during a wait
};

} // namespace trayvo

#pragma once

#include "platform/call_worker.h"
#include "platform/handler_guard.h"
#include "platform/window_runtime.h"

#include <memory>
#include <optional>

namespace trayvo {

class EventWake;

// How the Win32 runtime waits for a blocking call: the call runs on the
// worker, while the window's thread dispatches every message that is not
// user input (sent messages, paints, timers, posted messages) and the title
// bar's mouse messages, so that the window paints, answers, moves and can be
// closed. Input to the window stays in the thread's queue until the waiting
// handler has ended, as it would behind a busy window.
class Win32Wait {
public:
    explicit Win32Wait(HandlerGuard& guard);
    ~Win32Wait();
    Win32Wait(const Win32Wait&) = delete;
    Win32Wait& operator=(const Win32Wait&) = delete;

    void waitFor(BlockingCall call);

private:
    void dispatchUntilEnded();

    HandlerGuard& guard_;
    std::shared_ptr<EventWake> wake_;
    CallWorker worker_;
    bool windowShown_ = false; // a window has been on screen
    bool ending_ = false;      // the last window was closed during a wait
};

} // namespace trayvo

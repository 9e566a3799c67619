#pragma once

#include "platform/call_worker.h"
#include "platform/handler_guard.h"
#include "platform/window_runtime.h"

#include <QSocketNotifier>

#include <memory>

namespace trayvo {

class EventFdWake;

// How the Qt runtime waits for a blocking call: the call runs on the
// worker, while a nested event loop keeps the windows painting and answering
// the window system. The user's input to the windows is held back meanwhile
// and delivered once the waiting handler has ended, in its order, once; the
// window system's close request is not held, so that closing the window
// during a call that never returns ends the program.
class QtWait {
public:
    explicit QtWait(HandlerGuard& guard);
    ~QtWait();
    QtWait(const QtWait&) = delete;
    QtWait& operator=(const QtWait&) = delete;

    void waitFor(BlockingCall call);

private:
    void runEventsUntilEnded();

    HandlerGuard& guard_;
    std::shared_ptr<EventFdWake> wake_;
    QSocketNotifier wakeNotifier_;
    CallWorker worker_;
    bool windowShown_ = false; // a window has been on screen
    bool ending_ = false;      // the last window was closed during a wait
};

} // namespace trayvo

#pragma once

#include "platform/handler_guard.h"
#include "platform/window_wait.h"

#include <memory>

namespace trayvo {

class EventWake;

// How the Win32 runtime waits for a blocking call: the call runs on the
// worker, while the window's thread dispatches every message that is not
// user input (sent messages, paints, timers, posted messages) and the title
// bar's mouse messages, so that the window paints, answers, moves and can be
// closed. Input to the window stays in the thread's queue until the waiting
// handler has ended, as it would behind a busy window.
class Win32Wait final : public WindowWait {
public:
    explicit Win32Wait(HandlerGuard& guard);
    ~Win32Wait() override;

private:
    Win32Wait(HandlerGuard& guard, const std::shared_ptr<EventWake>& wake);
    bool showsAWindow() const override;
    bool runUntilEnded() override;

    std::shared_ptr<EventWake> wake_;
};

} // namespace trayvo

#include "platform/window_wait.h"

#include <utility>

namespace trayvo {

WindowWait::WindowWait(HandlerGuard& guard, std::shared_ptr<WakeSignal> wake)
    : guard_(guard)
    , worker_(std::move(wake))
{
}

void WindowWait::waitFor(BlockingCall call)
{
    const HandlerGuard::Wait wait(guard_);
    // Once the program is ending, no call starts any more: one still left to
    // make on the way out (an alias closed) would block the end.
    if (ending_)
        throw ProgramEnding();
    // Before the first window shows (the main window's load) nothing is on
    // screen to keep answering: the worker would only delay the start.
    windowShown_ = windowShown_ || showsAWindow();
    if (!windowShown_) {
        call();
        return;
    }
    worker_.start(std::move(call));
    // Given up when the program ends, the call is left to end on its own.
    if (!worker_.ended(quickCallSpin) && worker_.wakeWhenEnded() && !runUntilEnded()) {
        ending_ = true;
        throw ProgramEnding();
    }
    worker_.finish();
}

} // namespace trayvo

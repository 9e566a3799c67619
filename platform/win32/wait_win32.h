#pragma once

#include "platform/window_wait.h"

namespace trayvo {

// The wait's loop on Win32: the window's thread dispatches every message
// that is not user input (sent messages, paints, timers, posted messages)
// and the title bar's mouse messages, so that the window paints, answers,
// moves and can be closed. Input to the window stays in the thread's queue
// until the waiting handler has ended, as it would behind a busy window.
class Win32Wait final : public WindowWait {
public:
    using WindowWait::WindowWait;

private:
    bool showsAWindow() const override;
    bool runUntilEnded() override;
};

} // namespace trayvo

#pragma once

#include "platform/window_wait.h"

namespace trayvo {

// The wait's loop on Qt: a nested event loop that keeps the windows painting
// and answering the window system. The user's input to the windows is held
// meanwhile and delivered through the guard, in its order, once, after the
// waiting handler has ended. Qt's own way of holding input back
// (ExcludeUserInputEvents) would hold the window system's close request as
// well: closing the window during a call that never returns must end the
// program.
class QtWait final : public WindowWait {
public:
    using WindowWait::WindowWait;

private:
    bool showsAWindow() const override;
    bool runUntilEnded() override;
};

} // namespace trayvo

#pragma once

#include "platform/handler_guard.h"
#include "platform/window_wait.h"

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
class QtWait final : public WindowWait {
public:
    explicit QtWait(HandlerGuard& guard);
    ~QtWait() override;

private:
    QtWait(HandlerGuard& guard, const std::shared_ptr<EventFdWake>& wake);
    bool showsAWindow() const override;
    bool runUntilEnded() override;

    std::shared_ptr<EventFdWake> wake_;
    QSocketNotifier wakeNotifier_;
};

} // namespace trayvo

#pragma once

#include "platform/window_runtime.h"

#include <deque>
#include <functional>
#include <string_view>

namespace trayvo {

// Every handler runs through one guard, which decides what runs when.
//
// - An error escaping a handler is shown to the user and the program goes
//   on. While that message is up, the toolkit keeps dispatching from inside
//   the message box: clicks and ticks are dropped then, so one fault gives
//   one message.
// - While a handler waits for a blocking call (WindowRuntime::waitFor), the
//   window's loop runs on but the handler has not ended: ticks are dropped,
//   and clicks and notices are held and run once, after the handler that
//   waited has ended, from whichever loop then runs (the main loop, or a
//   modal window's own: an open About window is no handler at work).
// - Once a wait ends with ProgramEnding, nothing runs any more.
class HandlerGuard {
public:
    using ShowError = std::function<void(TextView message)>;

    explicit HandlerGuard(ShowError showError);

    // A click, or anything else the user asked for.
    void run(const Handler& handler) noexcept;
    // A timer's tick: ticks come again, so one is never held.
    void runTick(const Handler& handler) noexcept;
    // A notice the system gives once and never repeats (the drives changed):
    // dropped, it would leave the window out of step for good, so it runs
    // while the message is up too, an error it raises then not shown. Held
    // during a wait, notices from one source are heard once.
    void runNotice(const Handler& handler) noexcept;

    // Marks the wait for one blocking call; there is never more than one.
    class Wait {
    public:
        explicit Wait(HandlerGuard& guard);
        ~Wait();
        Wait(const Wait&) = delete;
        Wait& operator=(const Wait&) = delete;

    private:
        HandlerGuard& guard_;
    };

private:
    enum class Kind { Click, Tick, Notice };
    struct Held {
        Handler handler;
        Kind kind;
        const Handler* source; // a notice's, to hear it once
    };

    void dispatch(const Handler& handler, Kind kind) noexcept;
    void hold(const Handler& handler, Kind kind) noexcept;
    // Runs handler as a running handler; the program's end stops the guard.
    void invoke(const Handler& handler, bool showErrors) noexcept;
    void report(std::string_view utf8Message) noexcept;
    void runHeld() noexcept;

    ShowError showError_;
    std::deque<Held> held_;
    int running_ = 0;       // handlers running, one inside another
    int heldUntilEndOf_ = 0; // the depth of the handler that last waited
    bool showingError_ = false;
    bool waiting_ = false;
    bool runningHeld_ = false;
    bool ending_ = false;
};

} // namespace trayvo

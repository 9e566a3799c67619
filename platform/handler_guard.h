#pragma once

#include "platform/window_runtime.h"

#include <deque>
#include <functional>
#include <string_view>

namespace trayvo {

// Every handler runs through one guard, so that an error escaping a handler
// is shown to the user and the program goes on instead of ending. While the
// guard's message is up, the toolkit keeps dispatching timer ticks and input
// from inside the message box; those handlers are dropped, so one fault gives
// one message, never a pile of them.
//
// While a handler waits for a blocking call (WindowRuntime::waitFor), the
// window's loop runs on, but the handler has not ended: ticks are dropped,
// and every other handler, and the input the adapter held back, runs after
// the waiting handler has ended, in the order it came. Once a wait ends with
// ProgramEnding, nothing runs any more.
class HandlerGuard {
public:
    using ShowError = std::function<void(TextView message)>;

    explicit HandlerGuard(ShowError showError);

    void run(const Handler& handler) noexcept;
    // A timer's tick: dropped while a call is waited for, so that ticks never
    // pile up behind a slow drive.
    void runTick(const Handler& handler) noexcept;
    // Runs later once the waiting handler has ended, as a handler.
    void defer(Handler later);
    // As run, for a notice the system gives once and never repeats (the
    // drives changed): dropped, it would leave the window out of step for
    // good, so it runs while the message is up too; an error it raises then
    // is not shown, the user being busy with one already. During a wait it
    // is deferred like any other handler, never run when the wait ends.
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

    bool showingError() const { return showingError_; }
    bool waiting() const { return waiting_; }
    bool ending() const { return ending_; }

private:
    enum class Errors { Shown, Dropped };
    // Runs handler as a running handler; the program's end stops the guard.
    void invoke(const Handler& handler, Errors errors) noexcept;
    void report(std::string_view utf8Message) noexcept;
    void runDeferred() noexcept;

    ShowError showError_;
    std::deque<Handler> deferred_;
    int running_ = 0; // handlers running, one inside another
    bool showingError_ = false;
    bool waiting_ = false;
    bool draining_ = false;
    bool ending_ = false;
};

} // namespace trayvo

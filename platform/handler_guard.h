#pragma once

#include "platform/window_runtime.h"

#include <functional>
#include <string_view>

namespace trayvo {

// Every handler runs through one guard, so that an error escaping a handler
// is shown to the user and the program goes on instead of ending. While the
// guard's message is up, the toolkit keeps dispatching timer ticks and input
// from inside the message box; those handlers are dropped, so one fault gives
// one message, never a pile of them.
class HandlerGuard {
public:
    using ShowError = std::function<void(TextView message)>;

    explicit HandlerGuard(ShowError showError);

    void run(const Handler& handler) noexcept;
    // As run, for a notice the system gives once and never repeats (the
    // drives changed): dropped, it would leave the window out of step for
    // good, so it runs while the message is up too; an error it raises then
    // is not shown, the user being busy with one already.
    void runNotice(const Handler& handler) noexcept;
    bool showingError() const { return showingError_; }

private:
    void report(std::string_view utf8Message) noexcept;

    ShowError showError_;
    bool showingError_ = false;
};

} // namespace trayvo

#include "platform/handler_guard.h"

#include "platform/text_encoding.h"
#include "resources/texts.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

namespace trayvo {

HandlerGuard::HandlerGuard(ShowError showError)
    : showError_(std::move(showError))
{
}

void HandlerGuard::run(const Handler& handler) noexcept
{
    dispatch(handler, Kind::Click);
}

void HandlerGuard::runTick(const Handler& handler) noexcept
{
    dispatch(handler, Kind::Tick);
}

// A notice that comes while a handler waits is held: it is heard once the
// waiting handler has ended, never in the middle of it, where it would see
// that handler's work half done (a tray action's timer stopped) and the rest
// of that handler would then undo what the notice did.
void HandlerGuard::runNotice(const Handler& handler) noexcept
{
    dispatch(handler, Kind::Notice);
}

void HandlerGuard::dispatch(const Handler& handler, Kind kind) noexcept
{
    if (ending_ || !handler)
        return;
    if (waiting_) {
        if (kind != Kind::Tick)
            hold(handler, kind);
        return;
    }
    if (!showingError_)
        invoke(handler, true);
    else if (kind == Kind::Notice)
        invoke(handler, false); // one fault, one message: the one up already
}

void HandlerGuard::hold(const Handler& handler, Kind kind) noexcept
{
    const Handler* source = kind == Kind::Notice ? &handler : nullptr;
    if (source && std::any_of(held_.begin(), held_.end(), [&](const Held& held) { return held.source == source; }))
        return;
    try {
        held_.push_back({handler, kind, source});
    } catch (...) {
        // Out of memory: the handler is lost, the program goes on.
    }
}

void HandlerGuard::invoke(const Handler& handler, bool showErrors) noexcept
{
    const int depth = ++running_;
    try {
        handler();
    } catch (const ProgramEnding&) {
        ending_ = true;
        held_.clear();
    } catch (const std::exception& error) {
        if (showErrors)
            report(error.what());
    } catch (...) {
        if (showErrors)
            report(texts::unknownError);
    }
    --running_;
    if (depth == heldUntilEndOf_) {
        heldUntilEndOf_ = 0;
        runHeld();
    }
}

// Each held handler may wait and hold more; they join the end of the queue,
// which is emptied here only, by the outermost call.
void HandlerGuard::runHeld() noexcept
{
    if (runningHeld_)
        return;
    runningHeld_ = true;
    while (!held_.empty() && !ending_) {
        const Held next = std::move(held_.front());
        held_.pop_front();
        dispatch(next.handler, next.kind);
    }
    runningHeld_ = false;
}

void HandlerGuard::report(std::string_view utf8Message) noexcept
{
    showingError_ = true;
    try {
        showError_(fromUtf8(utf8Message));
    } catch (...) {
        // Nothing is left to tell the user with; the program still goes on.
    }
    showingError_ = false;
}

HandlerGuard::Wait::Wait(HandlerGuard& guard)
    : guard_(guard)
{
    if (guard_.waiting_)
        throw std::logic_error("a blocking call was waited for inside another");
    guard_.waiting_ = true;
}

// What was held runs when the handler that waited ends; a wait outside any
// handler (at start-up) has nobody to run it after it but itself.
HandlerGuard::Wait::~Wait()
{
    guard_.waiting_ = false;
    if (guard_.running_ == 0)
        guard_.runHeld();
    else
        guard_.heldUntilEndOf_ = guard_.running_;
}

} // namespace trayvo

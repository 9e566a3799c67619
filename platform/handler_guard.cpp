#include "platform/handler_guard.h"

#include "platform/text_encoding.h"
#include "resources/texts.h"

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
    if (showingError_ || ending_ || !handler)
        return;
    if (waiting_) {
        try {
            deferred_.push_back(handler);
        } catch (...) {
            // Out of memory: the handler is lost, the program goes on.
        }
        return;
    }
    invoke(handler, Errors::Shown);
    if (running_ == 0)
        runDeferred();
}

void HandlerGuard::invoke(const Handler& handler, Errors errors) noexcept
{
    ++running_;
    try {
        handler();
    } catch (const ProgramEnding&) {
        ending_ = true;
        deferred_.clear();
    } catch (const std::exception& error) {
        if (errors == Errors::Shown)
            report(error.what());
    } catch (...) {
        if (errors == Errors::Shown)
            report(texts::unknownError);
    }
    --running_;
}

void HandlerGuard::runTick(const Handler& handler) noexcept
{
    if (!waiting_)
        run(handler);
}

void HandlerGuard::defer(Handler later)
{
    if (!ending_)
        deferred_.push_back(std::move(later));
}

// Each deferred handler may wait and defer more; they join the end of the
// queue, which is emptied here only, by the outermost call.
void HandlerGuard::runDeferred() noexcept
{
    if (draining_)
        return;
    draining_ = true;
    while (!deferred_.empty() && !ending_) {
        const Handler next = std::move(deferred_.front());
        deferred_.pop_front();
        run(next);
    }
    draining_ = false;
}

// A notice that comes while a handler waits is deferred by run: it is heard
// once the waiting handler has ended, never in the middle of it, where it
// would see that handler's work half done (a tray action's timer stopped)
// and the rest of that handler would then undo what the notice did.
void HandlerGuard::runNotice(const Handler& handler) noexcept
{
    if (!showingError_ || waiting_ || ending_) {
        run(handler);
        return;
    }
    // One fault, one message: the one up already.
    if (handler)
        invoke(handler, Errors::Dropped);
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

// A wait outside any handler (at start-up) has nobody to run the deferred
// handlers after it but itself.
HandlerGuard::Wait::~Wait()
{
    guard_.waiting_ = false;
    if (guard_.running_ == 0)
        guard_.runDeferred();
}

} // namespace trayvo

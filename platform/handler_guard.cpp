#include "platform/handler_guard.h"

#include "platform/text_encoding.h"
#include "resources/texts.h"

#include <exception>
#include <utility>

namespace trayvo {

HandlerGuard::HandlerGuard(ShowError showError)
    : showError_(std::move(showError))
{
}

void HandlerGuard::run(const Handler& handler) noexcept
{
    if (showingError_ || !handler)
        return;
    try {
        handler();
    } catch (const std::exception& error) {
        report(error.what());
    } catch (...) {
        report(texts::unknownError);
    }
}

void HandlerGuard::runNotice(const Handler& handler) noexcept
{
    if (!showingError_) {
        run(handler);
        return;
    }
    try {
        if (handler)
            handler();
    } catch (...) {
        // One fault, one message: the one up already.
    }
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

} // namespace trayvo

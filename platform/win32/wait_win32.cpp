#include "platform/win32/wait_win32.h"

#include <windows.h>

#include <optional>

namespace trayvo {

namespace {

// What wakes the wait: everything but the keyboard, the call's end among the
// posted messages. Mouse input wakes it for the title bar's sake; the rest
// of it stays queued.
constexpr DWORD wakeMask = QS_SENDMESSAGE | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY | QS_MOUSE;

// The quit message comes out of PeekMessage whatever its filters; its exit
// code, when it came.
std::optional<int> quitCode(const MSG& message)
{
    if (message.message != WM_QUIT)
        return std::nullopt;
    return static_cast<int>(message.wParam);
}

// The pointer's moves over the windows wait in the queue with the rest of
// the input. Once the title bar is pressed they are out of date, and the
// press's own loop (moving the window, tracking its close button) would
// take them for where the pointer is now: they go.
std::optional<int> dropPointerMoves()
{
    MSG move{};
    while (::PeekMessageW(&move, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE | PM_QS_INPUT)) {
        if (const auto quit = quitCode(move))
            return quit;
    }
    return std::nullopt;
}

// The title bar and the frame: moving the window, its buttons, closing it.
std::optional<int> dispatchTitleBar()
{
    MSG message{};
    while (::PeekMessageW(&message, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE | PM_QS_INPUT)) {
        if (const auto quit = quitCode(message))
            return quit;
        if (message.message != WM_NCMOUSEMOVE) {
            if (const auto quit = dropPointerMoves())
                return quit;
        }
        ::DispatchMessageW(&message);
    }
    return std::nullopt;
}

// Dispatches what is waiting, input to the windows aside. Sent messages are
// delivered inside PeekMessage itself.
std::optional<int> dispatchAllButInput()
{
    if (const auto quit = dispatchTitleBar())
        return quit;
    // Last: a look at the queue makes what is in it old, and the wait wakes
    // only for what is new, so nothing of these kinds may be left behind.
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_SENDMESSAGE | PM_QS_POSTMESSAGE | PM_QS_PAINT)) {
        if (const auto quit = quitCode(message))
            return quit;
        ::DispatchMessageW(&message);
    }
    return std::nullopt;
}

BOOL CALLBACK stopAtVisible(HWND window, LPARAM found)
{
    if (!::IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

} // namespace

bool Win32Wait::showsAWindow() const
{
    bool found = false;
    ::EnumThreadWindows(::GetCurrentThreadId(), stopAtVisible, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The quit message, posted when the last window closed, ends the wait; it
// goes back for the runtime's loop. The call's thread wakes the loop with a
// message of its own, which does nothing and is not input.
bool Win32Wait::runUntilEnded()
{
    const DWORD thread = ::GetCurrentThreadId();
    wakeWith([thread] { ::PostThreadMessageW(thread, WM_NULL, 0, 0); });
    std::optional<int> exitCode;
    while (!(exitCode = dispatchAllButInput()) && !callEnded())
        ::MsgWaitForMultipleObjectsEx(0, nullptr, INFINITE, wakeMask, 0);
    wakeWith(nullptr);
    if (exitCode)
        ::PostQuitMessage(*exitCode);
    return callEnded();
}

} // namespace trayvo

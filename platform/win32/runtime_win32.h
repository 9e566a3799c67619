#pragma once

#include "platform/handler_guard.h"
#include "platform/win32/wait_win32.h"
#include "platform/win32/win32_handles.h"
#include "platform/window_runtime.h"

#include <windows.h>

#include <functional>
#include <map>
#include <utility>

namespace trayvo {

// The window runtime on plain Win32: windows and common controls, one
// message loop, Windows' own message box for errors.
class Win32WindowRuntime final : public WindowRuntime {
public:
    static constexpr const wchar_t* formClass = L"Trayvo2010Form";

    Win32WindowRuntime(HINSTANCE instance, const AppIdentity& identity);
    ~Win32WindowRuntime() override;
    Win32WindowRuntime(const Win32WindowRuntime&) = delete;
    Win32WindowRuntime& operator=(const Win32WindowRuntime&) = delete;

    const AppIdentity& app() const override { return identity_; }
    std::unique_ptr<Window> createWindow(const WindowLayout& layout) override;
    void runHandler(const Handler& handler) override;
    void waitFor(BlockingCall call) override;
    // Runs a timer's tick inside the error guard; dropped during a wait.
    void runTick(const Handler& handler) { guard_.runTick(handler); }
    // Runs a handler for a notice the system gives once, such as drives
    // attached or removed, which the guard never drops.
    void runNotice(const Handler& handler);

    // Dispatches messages until the last window has closed; the exit code.
    int run();
    // Dispatches messages until done() holds, as a modal window's loop.
    void runMessageLoop(const std::function<bool()>& done);

    HINSTANCE instance() const { return instance_; }
    // An icon of the exe's at the given size, kept for the runtime's life.
    HICON icon(int id, int size);
    // An icon of the exe's for one window to own.
    UniqueIcon loadIcon(int id, SIZE size) const;
    HCURSOR handCursor() const { return handCursor_.get(); }
    HFONT defaultFont() const { return defaultFont_.get(); }

private:
    void showError(TextView message);
    static HWND inputWindow();
    bool dispatchOne(); // false on WM_QUIT

    HINSTANCE instance_;
    AppIdentity identity_;
    HandlerGuard guard_;
    Win32Wait wait_{guard_};
    UniqueCursor handCursor_;
    UniqueFont defaultFont_;
    UniqueAccelerators accelerators_;
    std::map<std::pair<int, int>, UniqueIcon> icons_;
    int exitCode_ = 0;
    bool quitting_ = false;
};

} // namespace trayvo

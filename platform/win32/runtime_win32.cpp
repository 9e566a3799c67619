#include "platform/win32/runtime_win32.h"

#include "platform/win32/wide_text_win32.h"
#include "platform/win32/art_win32.h"
#include "platform/win32/window_win32.h"

#include <stdexcept>
#include <string_view>

namespace trayvo {
namespace {

void registerFormClass(HINSTANCE instance, WNDPROC procedure)
{
    WNDCLASSEXW formClass{};
    formClass.cbSize = sizeof formClass;
    formClass.lpfnWndProc = procedure;
    formClass.hInstance = instance;
    formClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    formClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    formClass.lpszClassName = Win32WindowRuntime::formClass;
    if (!::RegisterClassExW(&formClass))
        throw std::runtime_error("RegisterClassEx failed");
}

// The font Windows uses for message boxes: what a button with no font of its
// own should look like.
UniqueFont messageFont()
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return UniqueFont(::CreateFontIndirectW(&metrics.lfMessageFont));
}

// Keeps the first of the windows it is shown that is a form taking input.
BOOL CALLBACK takeIfInputForm(HWND window, LPARAM found)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring_view(name) != Win32WindowRuntime::formClass || !::IsWindowVisible(window)
        || !::IsWindowEnabled(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Keys every form hears whichever of its controls has the focus.
UniqueAccelerators formAccelerators()
{
    ACCEL help{.fVirt = FVIRTKEY, .key = VK_F1, .cmd = helpKeyCommand};
    return UniqueAccelerators(::CreateAcceleratorTableW(&help, 1));
}

} // namespace

Win32WindowRuntime::Win32WindowRuntime(HINSTANCE instance, const AppIdentity& identity)
    : instance_(instance)
    , identity_(identity)
    , guard_([this](TextView message) { showError(message); })
    , handCursor_(static_cast<HCURSOR>(
          ::LoadImageW(instance, MAKEINTRESOURCEW(TRAYVO_IDC_HAND), IMAGE_CURSOR, 32, 32, LR_DEFAULTCOLOR)))
    , defaultFont_(messageFont())
    , accelerators_(formAccelerators())
{
    registerFormClass(instance, Win32Window::windowProcedure());
}

Win32WindowRuntime::~Win32WindowRuntime()
{
    ::UnregisterClassW(formClass, instance_);
}

std::unique_ptr<Window> Win32WindowRuntime::createWindow(const WindowLayout& layout)
{
    return std::make_unique<Win32Window>(layout, *this);
}

void Win32WindowRuntime::runHandler(const Handler& handler)
{
    guard_.run(handler);
}

void Win32WindowRuntime::waitFor(BlockingCall call)
{
    wait_.waitFor(std::move(call));
}

void Win32WindowRuntime::runNotice(const Handler& handler)
{
    guard_.runNotice(handler);
}

int Win32WindowRuntime::run()
{
    while (dispatchOne()) {
    }
    return exitCode_;
}

void Win32WindowRuntime::runMessageLoop(const std::function<bool()>& done)
{
    while (!done() && dispatchOne()) {
    }
    // A quit asked for inside the loop belongs to the outer one.
    if (quitting_)
        ::PostQuitMessage(exitCode_);
}

bool Win32WindowRuntime::dispatchOne()
{
    MSG message{};
    if (::GetMessageW(&message, nullptr, 0, 0) <= 0) {
        quitting_ = true;
        exitCode_ = static_cast<int>(message.wParam);
        return false;
    }
    // Tab, Shift+Tab, Enter and Esc move between controls as in a dialog box.
    const HWND form = ::GetAncestor(message.hwnd, GA_ROOT);
    if (form && ::TranslateAcceleratorW(form, accelerators_.get(), &message))
        return true;
    if (form && ::IsDialogMessageW(form, &message))
        return true;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
    return true;
}

HICON Win32WindowRuntime::icon(int id, int size)
{
    UniqueIcon& icon = icons_[{id, size}];
    if (!icon)
        icon = loadIcon(id, {size, size});
    return icon.get();
}

UniqueIcon Win32WindowRuntime::loadIcon(int id, SIZE size) const
{
    return UniqueIcon(static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(id), IMAGE_ICON, size.cx, size.cy, LR_DEFAULTCOLOR)));
}

// The message belongs to the program's window that takes input: shown
// without an owner, it would leave that window enabled, and clicks there
// would go nowhere while the message waits. The active window is no help:
// while the program is not in front, it is nobody's of ours.
void Win32WindowRuntime::showError(TextView message)
{
    ::MessageBoxW(inputWindow(), toWide(message).c_str(), toWide(identity_.title).c_str(), MB_OK | MB_ICONERROR);
}

// The modal window when one is open, else the main window: the one form of
// this thread that is shown and enabled.
HWND Win32WindowRuntime::inputWindow()
{
    HWND found = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &takeIfInputForm, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace trayvo

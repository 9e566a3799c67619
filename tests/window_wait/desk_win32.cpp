// The desk under Windows (Wine in the tests): clicks and keys through
// SendInput, the system's "is it hung?" question as a message sent with a
// time limit, a spoilt window as an invalidated one, closing as a click on
// the title bar's close button.

#include "platform/win32/runtime_win32.h"
#include "platform/win32/window_win32.h"
#include "tests/window_wait/desk.h"
#include "ui/app_identity.h"
#include "ui/main/frmMain_layout.h"

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>

namespace trayvo::testing {
namespace {

using namespace std::chrono_literals;

void send(std::initializer_list<INPUT> inputs)
{
    std::vector<INPUT> all(inputs);
    ::SendInput(static_cast<UINT>(all.size()), all.data(), sizeof(INPUT));
}

INPUT mouse(DWORD flags, POINT at)
{
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.dx = at.x * 65535 / (::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = at.y * 65535 / (::GetSystemMetrics(SM_CYSCREEN) - 1);
    return input;
}

INPUT key(WORD virtualKey, DWORD flags)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.dwFlags = flags;
    return input;
}

POINT centre(const RECT& box)
{
    return {(box.left + box.right) / 2, (box.top + box.bottom) / 2};
}

std::function<void()> sampled; // the desk's sample; one desk at a time

bool endedByItself = true;

void CALLBACK endProgram(HWND, UINT, UINT_PTR, DWORD)
{
    endedByItself = false;
    ::PostQuitMessage(0);
}

BOOL CALLBACK countVisible(HWND window, LPARAM shown)
{
    if (::IsWindowVisible(window))
        ++*reinterpret_cast<int*>(shown);
    return TRUE;
}

// The pointer's moves the window's thread takes from its queue.
int movesTaken = 0;

LRESULT CALLBACK countMoves(int code, WPARAM removed, LPARAM message)
{
    if (code == HC_ACTION && removed == PM_REMOVE && reinterpret_cast<const MSG*>(message)->message == WM_MOUSEMOVE)
        ++movesTaken;
    return ::CallNextHookEx(nullptr, code, removed, message);
}

void CALLBACK sample(HWND, UINT, UINT_PTR, DWORD)
{
    if (sampled)
        sampled();
}

class Win32Desk final : public Desk {
public:
    Win32Desk()
    {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        ::InitCommonControlsEx(&controls);
    }
    ~Win32Desk() override
    {
        if (sampler_)
            ::KillTimer(nullptr, sampler_);
        sampled = nullptr;
    }
    Win32Desk(const Win32Desk&) = delete;
    Win32Desk& operator=(const Win32Desk&) = delete;

    WindowRuntime& runtime() override { return runtime_; }

    void learn(Window& window) override
    {
        window_ = reinterpret_cast<HWND>(window.handle());
        ::SetForegroundWindow(window_);
        if (!runUntil([this] { return ::GetForegroundWindow() == window_ && !::GetUpdateRect(window_, nullptr, FALSE); },
                      10s))
            throw std::runtime_error("the window was never shown in front");
        int row = 0;
        for (const ControlLayout& control : frmMainLayout.controls) {
            const int id = controlIdBase + row++;
            if (control.name == "Timer1")
                timerId_ = static_cast<UINT_PTR>(id);
            RECT box{};
            if (const HWND child = ::GetDlgItem(window_, id); child && ::GetWindowRect(child, &box))
                centres_[std::string(control.name)] = centre(box);
        }
        closeButton_ = findCloseButton();
        movesTaken = 0;
        moveHook_.reset(::SetWindowsHookExW(WH_GETMESSAGE, countMoves, nullptr, ::GetCurrentThreadId()));
    }

    void setTickInterval(Window&, int milliseconds) override
    {
        ::SetTimer(window_, timerId_, static_cast<UINT>(milliseconds), nullptr);
    }

    void sampleEvery10ms(std::function<void()> sample) override
    {
        sampled = std::move(sample);
        sampler_ = ::SetTimer(nullptr, 0, 10, &testing::sample);
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        bool held = done();
        // A beat, so that the loop, which sleeps until a message comes,
        // looks again every few milliseconds.
        const UINT_PTR beat = ::SetTimer(nullptr, 0, 10, nullptr);
        runtime_.runMessageLoop([&] {
            held = held || done();
            return held || std::chrono::steady_clock::now() >= until;
        });
        ::KillTimer(nullptr, beat);
        return held;
    }

    bool runUntilQuit(std::chrono::milliseconds limit) override
    {
        endedByItself = true;
        const UINT_PTR deadline = ::SetTimer(nullptr, 0, static_cast<UINT>(limit.count()), &endProgram);
        runtime_.run();
        ::KillTimer(nullptr, deadline);
        return endedByItself;
    }

    void click(std::string_view control) override { clickAt(centres_.at(std::string(control))); }

    int windowsShown() const override
    {
        int shown = 0;
        ::EnumThreadWindows(::GetCurrentThreadId(), countVisible, reinterpret_cast<LPARAM>(&shown));
        return shown;
    }

    int pointerMovesTaken() const override { return movesTaken; }

    void movePointer(int times) override
    {
        const POINT at = centres_.at("Image1");
        for (int i = 0; i < times; ++i) {
            send({mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, {at.x + i % 2 * 4, at.y})});
            std::this_thread::sleep_for(1ms);
        }
    }

    void press(Key pressed) override
    {
        const WORD virtualKey = pressed == Key::Down ? VK_DOWN : VK_ESCAPE;
        send({key(virtualKey, 0), key(virtualKey, KEYEVENTF_KEYUP)});
    }

    bool answersPing() override
    {
        DWORD_PTR result = 0;
        return ::SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
    }

    bool repaints() override
    {
        ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        const auto until = std::chrono::steady_clock::now() + 1s;
        while (::GetUpdateRect(window_, nullptr, FALSE)) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    void close() override { clickAt(closeButton_); }

private:
    // The pointer is put in place first, and each button event carries the
    // place as well: Wine's pointer may still be moving to it from the X
    // server's side.
    void clickAt(POINT at)
    {
        ::SetCursorPos(at.x, at.y);
        POINT now{};
        for (int i = 0; i < 100 && (!::GetCursorPos(&now) || now.x != at.x || now.y != at.y); ++i)
            std::this_thread::sleep_for(5ms);
        constexpr DWORD placed = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
        send({mouse(placed, at), mouse(placed | MOUSEEVENTF_LEFTDOWN, at), mouse(placed | MOUSEEVENTF_LEFTUP, at)});
    }

    // The middle of the close button, as the window itself tells where it
    // is, along the middle of the title bar.
    POINT findCloseButton() const
    {
        RECT frame{};
        ::GetWindowRect(window_, &frame);
        const int y = frame.top + ::GetSystemMetrics(SM_CYFIXEDFRAME) + ::GetSystemMetrics(SM_CYCAPTION) / 2;
        int right = -1;
        for (int x = frame.right - 1; x > frame.left; --x) {
            const LRESULT hit = ::SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            if (hit == HTCLOSE && right < 0)
                right = x;
            else if (hit != HTCLOSE && right >= 0)
                return {(x + right) / 2, y};
        }
        throw std::runtime_error("no close button on the title bar");
    }

    Win32WindowRuntime runtime_{::GetModuleHandleW(nullptr), appIdentity};
    HWND window_ = nullptr;
    UINT_PTR timerId_ = 0;
    UINT_PTR sampler_ = 0;
    POINT closeButton_{};
    std::unique_ptr<std::remove_pointer_t<HHOOK>, decltype(&::UnhookWindowsHookEx)> moveHook_{nullptr,
                                                                                           &::UnhookWindowsHookEx};
    std::map<std::string, POINT> centres_;
};

} // namespace

std::unique_ptr<Desk> makeDesk()
{
    return std::make_unique<Win32Desk>();
}

} // namespace trayvo::testing

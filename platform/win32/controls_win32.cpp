#include "platform/win32/controls_win32.h"

#include "platform/win32/ansi_win32.h"
#include "platform/win32/win32_handles.h"

#include <algorithm>
#include <vector>

namespace trayvo {
namespace {

std::wstring windowText(HWND window)
{
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

SIZE sizeOf(HWND window)
{
    RECT box{};
    ::GetWindowRect(window, &box);
    return {box.right - box.left, box.bottom - box.top};
}

POINT positionInParent(HWND window)
{
    RECT box{};
    ::GetWindowRect(window, &box);
    POINT corner{box.left, box.top};
    ::ScreenToClient(::GetParent(window), &corner);
    return corner;
}

void resize(HWND window, int width, int height)
{
    ::SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

} // namespace

SIZE measureText(HWND window, const std::wstring& text, int width)
{
    const WindowDc dc(window);
    const SelectedObject font(dc.get(), reinterpret_cast<HGDIOBJ>(::SendMessageW(window, WM_GETFONT, 0, 0)));
    RECT box{0, 0, width, 0};
    const UINT wrap = width > 0 ? DT_WORDBREAK | DT_EDITCONTROL : 0;
    ::DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &box, DT_CALCRECT | DT_NOPREFIX | wrap);
    return {box.right - box.left, box.bottom - box.top};
}

Win32Label::Win32Label(HWND label, bool autoSize, int growDownTo)
    : label_(label)
    , autoSize_(autoSize)
    , storedHeight_(sizeOf(label).cy)
    , growDownTo_(growDownTo)
{
}

void Win32Label::setCaption(TextView caption)
{
    ::SetWindowTextW(label_, toWide(caption).c_str());
    fitText();
}

void Win32Label::fitText()
{
    const std::wstring text = windowText(label_);
    if (autoSize_) {
        const SIZE needed = measureText(label_, text);
        resize(label_, needed.cx, needed.cy);
        return;
    }
    const int width = sizeOf(label_).cx;
    const int room = std::max(storedHeight_, growDownTo_ - static_cast<int>(positionInParent(label_).y));
    resize(label_, width, std::clamp(static_cast<int>(measureText(label_, text, width).cy), storedHeight_, room));
}

void Win32Label::setForeColor(Color value)
{
    color = value;
    ::InvalidateRect(label_, nullptr, TRUE);
}

Win32DropDownList::Win32DropDownList(HWND list, int fullHeight, int growRightTo)
    : list_(list)
    , fullHeight_(fullHeight)
    , growRightTo_(growRightTo)
{
}

void Win32DropDownList::addItem(TextView text, int index)
{
    const std::wstring item = toWide(text);
    ::SendMessageW(list_, CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.c_str()));
    fitLongestItem(text);
}

void Win32DropDownList::fitLongestItem(TextView text)
{
    const int arrow = ::GetSystemMetrics(SM_CXVSCROLL);
    const int wanted = static_cast<int>(measureText(list_, toWide(text)).cx) + arrow + 8;
    const int room = growRightTo_ - static_cast<int>(positionInParent(list_).x);
    if (std::min(wanted, room) > sizeOf(list_).cx)
        resize(list_, std::min(wanted, room), fullHeight_);
}

int Win32DropDownList::selectedIndex() const
{
    return static_cast<int>(::SendMessageW(list_, CB_GETCURSEL, 0, 0));
}

void Win32DropDownList::setSelectedIndex(int index)
{
    ::SendMessageW(list_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

Text Win32DropDownList::text() const
{
    const std::wstring text = windowText(list_);
    return Text(text.begin(), text.end());
}

Win32Timer::~Win32Timer()
{
    setEnabled(false);
}

void Win32Timer::setEnabled(bool enabled)
{
    if (enabled && !running_)
        ::SetTimer(form_, id_, intervalMs_, nullptr);
    else if (!enabled && running_)
        ::KillTimer(form_, id_);
    running_ = enabled;
}

} // namespace trayvo

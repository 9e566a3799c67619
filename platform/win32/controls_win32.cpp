#include "platform/win32/controls_win32.h"

#include "platform/win32/wide_text_win32.h"
#include "platform/win32/win32_handles.h"


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

Win32Label::Win32Label(HWND label, LabelFit fit)
    : label_(label)
    , fit_(fit)
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
    if (fit_.autoSize) {
        const SIZE needed = measureText(label_, text);
        resize(label_, needed.cx, needed.cy);
        return;
    }
    const int width = sizeOf(label_).cx;
    const int top = positionInParent(label_).y;
    resize(label_, width, fit_.height(top, measureText(label_, text, width).cy));
}

void Win32Label::setForeColor(Color color)
{
    color_ = color;
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
    const int wanted = measureText(list_, toWide(text)).cx + arrow + 8;
    const int current = sizeOf(list_).cx;
    const int width = dropDownWidth(current, positionInParent(list_).x, wanted, growRightTo_);
    if (width != current)
        resize(list_, width, fullHeight_);
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
    return fromWide(windowText(list_));
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

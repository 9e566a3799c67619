#pragma once

#include "platform/layout_rules.h"
#include "platform/window_runtime.h"

#include <windows.h>

#include <optional>
#include <string>

namespace trayvo {

// The controls of a Win32 window. Each wraps a child window the form owns;
// handlers are kept here and run by the form when Windows reports the event.

class Win32Label final : public Label {
public:
    // fit's heights are in the form's pixels, as the label's own box is.
    Win32Label(HWND label, LabelFit fit);
    void setCaption(TextView caption) override;
    void setForeColor(Color color) override;
    void onClick(Handler handler) override { clicked_ = std::move(handler); }

    // The colour set for its text; the system's when none was.
    std::optional<Color> foreColor() const { return color_; }
    const Handler& clickHandler() const { return clicked_; }

private:
    void fitText();

    HWND label_;
    LabelFit fit_;
    std::optional<Color> color_;
    Handler clicked_;
};

class Win32DropDownList final : public DropDownList {
public:
    // fullHeight is the control's height with its list dropped down;
    // growRightTo is in the form's pixels, as the list's own box is.
    Win32DropDownList(HWND list, int fullHeight, int growRightTo);
    void addItem(TextView text, int index) override;
    void clear() override { ::SendMessageW(list_, CB_RESETCONTENT, 0, 0); }
    int selectedIndex() const override;
    void setSelectedIndex(int index) override;
    Text text() const override;

private:
    void fitLongestItem(TextView text);

    HWND list_;
    int fullHeight_;
    int growRightTo_;
};

class Win32PushButton final : public PushButton {
public:
    explicit Win32PushButton(HWND button) : button_(button) {}
    void setEnabled(bool enabled) override { ::EnableWindow(button_, enabled); }
    void onClick(Handler handler) override { clicked_ = std::move(handler); }

    const Handler& clickHandler() const { return clicked_; }

private:
    HWND button_;
    Handler clicked_;
};

// A window timer: SetTimer starts a fresh interval, KillTimer stops it.
class Win32Timer final : public Timer {
public:
    Win32Timer(HWND form, UINT_PTR id, UINT intervalMs) : form_(form), id_(id), intervalMs_(intervalMs) {}
    ~Win32Timer() override;
    Win32Timer(const Win32Timer&) = delete;
    Win32Timer& operator=(const Win32Timer&) = delete;
    void setEnabled(bool enabled) override;
    bool enabled() const { return running_; }
    void onTick(Handler handler) override { ticked_ = std::move(handler); }

    const Handler& tickHandler() const { return ticked_; }

private:
    HWND form_;
    UINT_PTR id_;
    UINT intervalMs_;
    bool running_ = false;
    Handler ticked_;
};

// The size text needs in window's font: on one line per CR LF, or wrapped
// at width when it is given.
SIZE measureText(HWND window, const std::wstring& text, int width = 0);

} // namespace trayvo

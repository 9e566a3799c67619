#pragma once

#include "platform/window_runtime.h"

#include <windows.h>

#include <optional>

namespace trayvo {

class Win32WindowRuntime;

// The controls of a Win32 window. Each wraps a child window the form owns;
// handlers are kept here and run by the form when Windows reports the event.

class Win32Label final : public Label {
public:
    // A label either follows its text (autoSize) or keeps its box, which may
    // deepen down to growDownTo for wrapped text that needs it.
    Win32Label(HWND label, bool autoSize, int growDownTo);
    void setCaption(TextView caption) override;
    void setForeColor(Color color) override;
    void onClick(Handler handler) override { clicked = std::move(handler); }

    std::optional<Color> color;
    Handler clicked;

private:
    void fitText();

    HWND label_;
    bool autoSize_;
    int storedHeight_;
    int growDownTo_;
};

class Win32DropDownList final : public DropDownList {
public:
    // fullHeight is the control's height with its list dropped down.
    Win32DropDownList(HWND list, int fullHeight, int growRightTo);
    void addItem(TextView text, int index) override;
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
    void onClick(Handler handler) override { clicked = std::move(handler); }

    Handler clicked;

private:
    HWND button_;
};

// A window timer: SetTimer starts a fresh interval, KillTimer stops it.
class Win32Timer final : public Timer {
public:
    Win32Timer(HWND form, UINT_PTR id, UINT intervalMs) : form_(form), id_(id), intervalMs_(intervalMs) {}
    ~Win32Timer() override;
    Win32Timer(const Win32Timer&) = delete;
    Win32Timer& operator=(const Win32Timer&) = delete;
    void setEnabled(bool enabled) override;
    bool enabled() const override { return running_; }
    void onTick(Handler handler) override { ticked = std::move(handler); }

    Handler ticked;

private:
    HWND form_;
    UINT_PTR id_;
    UINT intervalMs_;
    bool running_ = false;
};

// The size text needs in window's font: on one line per CR LF, or wrapped
// at width when it is given.
SIZE measureText(HWND window, const std::wstring& text, int width = 0);

} // namespace trayvo

#pragma once

#include "platform/layout_rules.h"
#include "platform/win32/accessible_win32.h"
#include "platform/named_controls.h"
#include "platform/win32/controls_win32.h"
#include "platform/win32/win32_handles.h"
#include "platform/window_runtime.h"

#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace trayvo {

class Win32WindowRuntime;

// A control's ID is this plus its row in the window's layout.
inline constexpr int controlIdBase = 1000;
// The command a form gets for the help key (F1), from the runtime's
// accelerators; no control has its ID.
inline constexpr WORD helpKeyCommand = 900;

// A window of the Win32 adapter: a top-level window with its controls as
// child windows at their stored positions, scaled from twips by the screen's
// real DPI.
class Win32Window final : public Window {
public:
    Win32Window(const WindowLayout& layout, Win32WindowRuntime& runtime);
    ~Win32Window() override;
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    void setCaption(TextView caption) override;
    void setMousePointer(MousePointer pointer) override;
    Label& label(std::string_view name) override;
    DropDownList& dropDownList(std::string_view name) override;
    PushButton& pushButton(std::string_view name) override;
    Timer& timer(std::string_view name) override;
    void onDrivesChanged(Handler handler) override { drivesChanged_ = std::move(handler); }
    void onHelpKey(Handler handler) override { helpKey_ = std::move(handler); }
    void show() override;
    void showModal(Window& owner) override;
    void unload() override;
    WindowHandle handle() const override;

    HWND hwnd() const { return hwnd_.get(); }
    static WNDPROC windowProcedure() { return &Win32Window::windowProc; }

private:
    struct Image {
        UniqueIcon icon;
        SIZE size{}; // as drawn, and as loaded
    };
    struct Line {
        POINT from{};
        POINT to{};
        UniquePen pen;
    };

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(WPARAM wParam, LPARAM lParam);
    void onTimer(UINT_PTR id);
    void onDeviceChange(WPARAM event, LPARAM data);
    void runDrivesChanged();
    LRESULT onColorStatic(HDC dc, HWND control);
    bool onSetCursor(HWND control);
    void onDrawItem(const DRAWITEMSTRUCT& item);
    void onPaint();
    void onClose();
    void destroy();

    void createControl(const ControlLayout& control, int row);
    void nameControls(const WindowLayout& layout);
    HWND createChild(const wchar_t* windowClass, DWORD style, const ControlLayout& control, RECT box, int row);
    RECT pixels(const TwipsRect& rect, POINT origin) const;
    int pixels(int twips) const { return scale_.pixels(twips); }
    HFONT fontFor(const Font& font);
    void addToolTip(HWND control, TextView text);
    void centreOver(const RECT& area);
    void focusFirstControl();

    Win32WindowRuntime& runtime_;
    StartPosition startPosition_;
    PixelScale scale_;
    AccessibleControls accessibles_; // before hwnd_, so that it outlives the controls
    UniqueWindow hwnd_;
    UniqueWindow toolTip_; // after hwnd_, so that it goes first (see destroy())
    // One font for each size and style, shared by the controls that use it.
    std::map<std::tuple<double, bool, bool>, UniqueFont> fonts_;
    std::map<std::string, POINT, std::less<>> containers_; // their corners in the form
    NamedControls<Win32Label> labels_;
    NamedControls<Win32DropDownList> lists_;
    NamedControls<Win32PushButton> buttons_;
    NamedControls<Win32Timer> timers_;
    std::map<HWND, Win32Label*> labelsByHwnd_;
    std::map<HWND, Win32PushButton*> buttonsByHwnd_;
    std::map<UINT_PTR, Win32Timer*> timersById_;
    std::map<HWND, Image> images_;
    std::set<HWND> handCursorLabels_; // labels that show the hand pointer
    std::vector<Line> lines_;
    std::vector<HWND> tabStops_;
    Handler drivesChanged_;
    Handler helpKey_;
    bool drivesChangePosted_ = false;
    bool placed_ = false;
    bool busy_ = false;
    bool modal_ = false;
    bool unloaded_ = false;
};

} // namespace trayvo

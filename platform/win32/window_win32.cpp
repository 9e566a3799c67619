#include "platform/win32/window_win32.h"

#include "platform/win32/wide_text_win32.h"
#include "platform/win32/art_win32.h"
#include "platform/win32/runtime_win32.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace trayvo {
namespace {

constexpr DWORD formStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD formExStyle = WS_EX_CONTROLPARENT;
// Posted to itself by a window that has heard of drives attached or removed.
constexpr UINT drivesChangedMessage = WM_APP + 1;

double screenDotsPerInch()
{
    const WindowDc screen(nullptr);
    return ::GetDeviceCaps(screen.get(), LOGPIXELSY);
}

RECT windowRect(HWND window)
{
    RECT box{};
    ::GetWindowRect(window, &box);
    return box;
}

} // namespace

Win32Window::Win32Window(const WindowLayout& layout, Win32WindowRuntime& runtime)
    : runtime_(runtime)
    , startPosition_(layout.startPosition)
    , scale_(screenDotsPerInch())
{
    RECT frame{0, 0, pixels(layout.clientWidthTwips), pixels(layout.clientHeightTwips)};
    ::AdjustWindowRectEx(&frame, formStyle, FALSE, formExStyle);
    hwnd_.reset(::CreateWindowExW(formExStyle, Win32WindowRuntime::formClass, toWide(layout.caption).c_str(),
                                  formStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, runtime.instance(), this));
    if (!hwnd_)
        throw std::runtime_error("CreateWindowEx failed");
    const ArtResource icon = artResource(layout.icon);
    ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(runtime.icon(icon.id, 48)));
    ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(runtime.icon(icon.id, 16)));
    int row = 0;
    for (const ControlLayout& control : layout.controls)
        createControl(control, row++);
    nameControls(layout);
}

// MSAA has no relation between a label and what it names: a control whose
// text is not its name (a drop-down list shows its item) takes its label's
// text as its name.
void Win32Window::nameControls(const WindowLayout& layout)
{
    const auto& controls = layout.controls;
    for (const ControlLayout& label : controls) {
        const auto named = std::find_if(controls.begin(), controls.end(),
                                        [&](const ControlLayout& control) { return control.name == label.labelFor; });
        if (label.labelFor.empty() || named == controls.end() || named->kind != ControlKind::DropDownList)
            continue;
        const int row = static_cast<int>(named - controls.begin());
        accessibles_.add(::GetDlgItem(hwnd(), controlIdBase + row), {.name = toWide(label.text)});
    }
}

Win32Window::~Win32Window()
{
    setMousePointer(MousePointer::Default);
    timers_.clear(); // their KillTimer needs the window still there
}

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    // Messages sent while CreateWindowEx is still running come before hwnd_
    // is set; the default handling is right for them.
    auto* window = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window || window->hwnd_.get() != hwnd)
        return ::DefWindowProcW(hwnd, message, wParam, lParam);
    return window->onMessage(message, wParam, lParam);
}

LRESULT Win32Window::onMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        onCommand(wParam, lParam);
        return 0;
    case WM_TIMER:
        onTimer(wParam);
        return 0;
    case WM_DEVICECHANGE:
        onDeviceChange(wParam, lParam);
        return TRUE;
    case drivesChangedMessage:
        runDrivesChanged();
        return 0;
    case WM_CTLCOLORSTATIC:
        return onColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_SETCURSOR:
        if (onSetCursor(reinterpret_cast<HWND>(wParam)))
            return TRUE;
        break;
    case WM_DRAWITEM:
        onDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_PAINT:
        onPaint();
        return 0;
    case WM_CLOSE:
        onClose();
        return 0;
    default:
        break;
    }
    return ::DefWindowProcW(hwnd(), message, wParam, lParam);
}

void Win32Window::onCommand(WPARAM wParam, LPARAM lParam)
{
    const auto control = reinterpret_cast<HWND>(lParam);
    const WORD code = HIWORD(wParam);
    // Esc, as a dialog box would take it.
    if (!control && LOWORD(wParam) == IDCANCEL && modal_) {
        onClose();
        return;
    }
    if (!control && LOWORD(wParam) == helpKeyCommand) {
        if (helpKey_)
            runtime_.runHandler(helpKey_);
        return;
    }
    if (const auto label = labelsByHwnd_.find(control); label != labelsByHwnd_.end() && code == STN_CLICKED)
        runtime_.runHandler(label->second->clickHandler());
    else if (const auto button = buttonsByHwnd_.find(control); button != buttonsByHwnd_.end() && code == BN_CLICKED)
        runtime_.runHandler(button->second->clickHandler());
}

void Win32Window::onTimer(UINT_PTR id)
{
    if (const auto timer = timersById_.find(id); timer != timersById_.end() && timer->second->enabled())
        runtime_.runTick(timer->second->tickHandler());
}

// Windows tells every top-level window of volumes arriving and going, a disc
// put in among them. The broadcast waits for each window's answer, so the
// handler runs later, from the window's own queue; reports that come before
// it has run are heard once.
void Win32Window::onDeviceChange(WPARAM event, LPARAM data)
{
    // Looked at first: some other events carry no description at all.
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE)
        return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header && header->dbch_devicetype == DBT_DEVTYP_VOLUME && drivesChanged_ && !drivesChangePosted_)
        drivesChangePosted_ = ::PostMessageW(hwnd(), drivesChangedMessage, 0, 0);
}

void Win32Window::runDrivesChanged()
{
    drivesChangePosted_ = false;
    runtime_.runNotice(drivesChanged_);
}

// Labels draw on the form's own face, in their own colour.
LRESULT Win32Window::onColorStatic(HDC dc, HWND control)
{
    ::SetBkMode(dc, TRANSPARENT);
    const auto label = labelsByHwnd_.find(control);
    const auto color = label != labelsByHwnd_.end() ? label->second->foreColor() : std::nullopt;
    ::SetTextColor(dc, color ? static_cast<COLORREF>(*color) : ::GetSysColor(COLOR_WINDOWTEXT));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

bool Win32Window::onSetCursor(HWND control)
{
    if (busy_)
        ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
    else if (handCursorLabels_.contains(control))
        ::SetCursor(runtime_.handCursor());
    else
        return false;
    return true;
}

void Win32Window::onDrawItem(const DRAWITEMSTRUCT& item)
{
    const auto image = images_.find(item.hwndItem);
    if (image == images_.end())
        return;
    ::FillRect(item.hDC, &item.rcItem, ::GetSysColorBrush(COLOR_BTNFACE));
    const Image& picture = image->second;
    ::DrawIconEx(item.hDC, 0, 0, picture.icon.get(), picture.size.cx, picture.size.cy, 0, nullptr, DI_NORMAL);
}

void Win32Window::onPaint()
{
    PAINTSTRUCT paint{};
    const HDC dc = ::BeginPaint(hwnd(), &paint);
    for (const Line& line : lines_) {
        const SelectedObject pen(dc, line.pen.get());
        ::MoveToEx(dc, line.from.x, line.from.y, nullptr);
        ::LineTo(dc, line.to.x, line.to.y);
    }
    ::EndPaint(hwnd(), &paint);
}

// Every way of closing a window comes here: the title bar, Alt+F4, Esc on a
// modal window, and unload. A modal window's loop then ends and destroys it.
void Win32Window::onClose()
{
    if (modal_) {
        unloaded_ = true;
        return;
    }
    // The main window is the last one: closing it ends the program.
    ::PostQuitMessage(0);
    destroy();
}

// The tooltip is a popup the form owns, and Windows destroys owned popups
// with their owner: destroyed after the form, its handle would be dead.
void Win32Window::destroy()
{
    toolTip_.reset();
    hwnd_.reset();
}

void Win32Window::createControl(const ControlLayout& control, int row)
{
    const POINT origin = containerOf(containers_, control, POINT{0, 0});
    const RECT box = pixels(control.rect, origin);
    const std::string key(control.name);
    switch (control.kind) {
    case ControlKind::Label: {
        const HWND label = createChild(L"STATIC", SS_LEFT | SS_NOTIFY | SS_NOPREFIX, control, box, row);
        const LabelFit fit{.autoSize = (control.flags & AutoSize) != 0,
                           .storedHeight = box.bottom - box.top,
                           .growDownTo = origin.y + pixels(control.growDownToTwips)};
        auto adapter = std::make_unique<Win32Label>(label, fit);
        adapter->setCaption(control.text);
        labelsByHwnd_[label] = adapter.get();
        labels_[key] = std::move(adapter);
        if (control.cursor != Art::None)
            handCursorLabels_.insert(label);
        if (control.flags & Link)
            accessibles_.add(label, {.link = true});
        break;
    }
    case ControlKind::DropDownList: {
        // The height given is the list's when dropped down.
        const RECT dropped{box.left, box.top, box.right, box.top + pixels(3000)};
        const HWND list = createChild(L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, control, dropped, row);
        lists_[key] = std::make_unique<Win32DropDownList>(list, dropped.bottom - dropped.top,
                                                          origin.x + pixels(control.growRightToTwips));
        tabStops_.push_back(list);
        break;
    }
    case ControlKind::PushButton: {
        const HWND button = createChild(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, control, box, row);
        ::SetWindowTextW(button, toWide(control.text).c_str());
        auto adapter = std::make_unique<Win32PushButton>(button);
        buttonsByHwnd_[button] = adapter.get();
        buttons_[key] = std::move(adapter);
        tabStops_.push_back(button);
        break;
    }
    case ControlKind::Frame:
        createChild(L"BUTTON", BS_GROUPBOX, control, box, row);
        containers_[key] = POINT{box.left, box.top};
        break;
    case ControlKind::Line:
        lines_.push_back({{pixels(control.rect.left), pixels(control.rect.top)},
                          {pixels(control.rect.width), pixels(control.rect.height)},
                          UniquePen(::CreatePen(PS_SOLID, control.lineWidthPixels, control.color))});
        break;
    case ControlKind::Image: {
        const ArtResource art = artResource(control.picture);
        const HWND image = createChild(L"STATIC", SS_OWNERDRAW, control, box, row);
        const bool stretch = (control.flags & Stretch) != 0;
        const SIZE shown = stretch ? SIZE{box.right - box.left, box.bottom - box.top}
                                   : SIZE{scale_.scaled(art.size.cx), scale_.scaled(art.size.cy)};
        // Loaded at the size it is drawn, so that Windows starts from the
        // icon's nearest image rather than squeezing its largest when drawing.
        images_[image] = Image{runtime_.loadIcon(art.id, shown), shown};
        if (!stretch)
            ::SetWindowPos(image, nullptr, 0, 0, shown.cx, shown.cy, SWP_NOMOVE | SWP_NOZORDER);
        accessibles_.add(image, {.name = toWide(control.accessibleName)});
        break;
    }
    case ControlKind::Timer: {
        const auto id = static_cast<UINT_PTR>(controlIdBase + row);
        auto adapter = std::make_unique<Win32Timer>(hwnd(), id, static_cast<UINT>(control.intervalMs));
        timersById_[id] = adapter.get();
        timers_[key] = std::move(adapter);
        break;
    }
    }
}

HWND Win32Window::createChild(const wchar_t* windowClass, DWORD style, const ControlLayout& control, RECT box, int row)
{
    // Each control's ID is its row in the layout, counted from controlIdBase,
    // which lets other programs (and tests) find it.
    const HWND child = ::CreateWindowExW(0, windowClass, L"", WS_CHILD | WS_VISIBLE | style, box.left, box.top,
                                         box.right - box.left, box.bottom - box.top, hwnd(),
                                         reinterpret_cast<HMENU>(static_cast<UINT_PTR>(controlIdBase + row)),
                                         runtime_.instance(), nullptr);
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fontFor(control.font)), FALSE);
    if (!control.toolTip.empty())
        addToolTip(child, control.toolTip);
    return child;
}

// Children of a frame are placed in the form, offset by the frame's corner,
// so that the form receives their notifications.
RECT Win32Window::pixels(const TwipsRect& rect, POINT origin) const
{
    const PixelRect box = scale_.pixels(rect);
    return {origin.x + box.left, origin.y + box.top, origin.x + box.left + box.width, origin.y + box.top + box.height};
}

// Windows realizes each font object the first time it draws or measures
// with it, looking up the face and its fallbacks: shared, the labels of one
// size pay for that once.
HFONT Win32Window::fontFor(const Font& font)
{
    if (font.points <= 0)
        return runtime_.defaultFont();
    UniqueFont& shared = fonts_[{font.points, font.bold, font.underline}];
    if (!shared) {
        const WindowDc screen(nullptr);
        const int height =
            -static_cast<int>(std::lround(font.points * ::GetDeviceCaps(screen.get(), LOGPIXELSY) / 72.0));
        shared.reset(::CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, font.underline, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                   DEFAULT_PITCH | FF_SWISS, L"Arial"));
    }
    return shared.get();
}

void Win32Window::addToolTip(HWND control, TextView text)
{
    if (!toolTip_)
        toolTip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                                         runtime_.instance(), nullptr));
    std::wstring tip = toWide(text);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = tip.data();
    ::SendMessageW(toolTip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Win32Window::setCaption(TextView caption)
{
    ::SetWindowTextW(hwnd(), toWide(caption).c_str());
}

// A handler that blocks the loop gets no WM_SETCURSOR, so the pointer is
// set at once as well.
void Win32Window::setMousePointer(MousePointer pointer)
{
    busy_ = pointer == MousePointer::Hourglass;
    ::SetCursor(::LoadCursorW(nullptr, busy_ ? IDC_WAIT : IDC_ARROW));
}

Label& Win32Window::label(std::string_view name)
{
    return findControl(labels_, name);
}

DropDownList& Win32Window::dropDownList(std::string_view name)
{
    return findControl(lists_, name);
}

PushButton& Win32Window::pushButton(std::string_view name)
{
    return findControl(buttons_, name);
}

Timer& Win32Window::timer(std::string_view name)
{
    return findControl(timers_, name);
}

void Win32Window::show()
{
    if (!std::exchange(placed_, true)) {
        RECT workArea{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
        centreOver(workArea);
    }
    ::ShowWindow(hwnd(), SW_SHOW);
    focusFirstControl();
}

void Win32Window::showModal(Window& owner)
{
    const HWND ownerWindow = dynamic_cast<Win32Window&>(owner).hwnd();
    modal_ = true;
    ::SetWindowLongPtrW(hwnd(), GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(ownerWindow));
    // Minimized, a modal window would leave only its owner in sight, which
    // takes no input until the modal one closes.
    ::SetWindowLongPtrW(hwnd(), GWL_STYLE, ::GetWindowLongPtrW(hwnd(), GWL_STYLE) & ~LONG_PTR{WS_MINIMIZEBOX});
    ::SetWindowPos(hwnd(), nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    RECT workArea{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    centreOver(startPosition_ == StartPosition::CenterOwner ? windowRect(ownerWindow) : workArea);
    ::EnableWindow(ownerWindow, FALSE);
    ::ShowWindow(hwnd(), SW_SHOW);
    focusFirstControl();
    runtime_.runMessageLoop([this] { return unloaded_; });
    // The owner takes input again before this window goes, so that Windows
    // gives the activation back to it rather than to another program.
    ::EnableWindow(ownerWindow, TRUE);
    ::SetActiveWindow(ownerWindow);
    destroy();
}

void Win32Window::unload()
{
    onClose();
}

WindowHandle Win32Window::handle() const
{
    return reinterpret_cast<WindowHandle>(hwnd_.get());
}

void Win32Window::centreOver(const RECT& area)
{
    const RECT frame = windowRect(hwnd());
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(hwnd(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::focusFirstControl()
{
    if (!tabStops_.empty())
        ::SetFocus(tabStops_.front());
}

} // namespace trayvo

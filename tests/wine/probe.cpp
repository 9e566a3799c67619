// Reads and works the program's real windows from another process, as a user
// or an accessibility tool would, for the checks under Wine. Every answer is
// one JSON object on stdout.
//
//   probe window CLASS TITLE            the window (any title if empty), whether it
//                                       is in front, and its controls: texts,
//                                       layout, the pictures their font gives
//                                       their characters, what MSAA says of them
//   probe act CLASS TITLE ID ACTION     on control ID (0: the window itself):
//                                       click       a button clicked
//                                       notify      the click as the button tells its
//                                                   window, which is not activated
//                                       help-key    F1 as the keyboard queues it
//                                       close       the title bar's X
//                                       default-action  MSAA's, timed
//   probe define-drive LETTER TYPE PATH Wine's mount manager makes LETTER a drive
//                                       of TYPE (cdrom, removable or none, which
//                                       removes it) on the Unix folder PATH
//   probe device-change EVENT LETTER CLASS TITLE  tells the window a volume on
//                                       LETTER arrived or was removed

#include "platform/win32/win32_handles.h"

#include <windows.h>
#include <dbt.h>
#include <oleacc.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using trayvo::UniqueHandle;

// --- JSON output ------------------------------------------------------------

// The parts appended in turn to one string. Written as "text" + a temporary
// string instead, the library inserts at the front of the temporary, where
// GCC 12 at -O2 and above (mingw-w64 i686) reports a false -Wrestrict.
template <typename... Parts>
std::string concat(const Parts&... parts)
{
    std::string out;
    (out += ... += parts);
    return out;
}

// Everything but printable ASCII is escaped, so that the answer is the same
// whatever the code page, and a CR LF inside a label reaches the checks as it is.
std::string quoted(std::wstring_view text)
{
    std::string out = "\"";
    for (const wchar_t c : text) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
        out += c >= L' ' && c < 0x7f && c != L'"' && c != L'\\' ? std::string(1, static_cast<char>(c)) : escape;
    }
    return out + "\"";
}

std::string boolean(bool value)
{
    return value ? "true" : "false";
}

template <typename Numbers>
std::string list(const Numbers& numbers)
{
    std::string out = "[";
    for (const auto number : numbers)
        out += concat(out.size() > 1 ? "," : "", std::to_string(number));
    return out + "]";
}

// Written as bytes, not through the console, which would translate them.
void print(const std::string& json)
{
    const std::string line = json + "\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// --- Reading windows --------------------------------------------------------

std::wstring windowText(HWND window)
{
    // Asked of the control itself: GetWindowText on another process's
    // window reads only the copy the system keeps, not the control's own.
    const auto length = ::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = ::SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                       reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

std::wstring className(HWND window)
{
    wchar_t name[256] = {};
    ::GetClassNameW(window, name, 256);
    return name;
}

std::string rectJson(HWND window)
{
    RECT r{};
    ::GetWindowRect(window, &r);
    return list(std::vector<LONG>{r.left, r.top, r.right, r.bottom});
}

std::string comboJson(HWND combo)
{
    std::string items;
    for (WPARAM i = 0; i < static_cast<WPARAM>(::SendMessageW(combo, CB_GETCOUNT, 0, 0)); ++i) {
        std::wstring item(static_cast<std::size_t>(::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        const auto length = ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
        items += concat(i ? "," : "", quoted(item));
    }
    return concat(",\"items\":[", items, "],\"selected\":", std::to_string(::SendMessageW(combo, CB_GETCURSEL, 0, 0)));
}

// How many distinct characters of the text the control's font, with
// whatever fallback fonts the system links to it, draws as distinct
// pictures: a font without Chinese draws them all as one and the same box.
std::string glyphsJson(HWND control, const std::wstring& text)
{
    const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    const trayvo::WindowDc screen(nullptr);
    const std::unique_ptr<HDC__, decltype(&::DeleteDC)> memory(::CreateCompatibleDC(screen.get()), &::DeleteDC);
    const HDC dc = memory.get();
    const trayvo::UniqueGdiObject<HBITMAP> bitmap(::CreateCompatibleBitmap(screen.get(), 64, 64));
    const trayvo::SelectedObject selectedBitmap(dc, bitmap.get());
    const trayvo::SelectedObject selectedFont(dc, font ? font : ::GetStockObject(DEFAULT_GUI_FONT));
    std::set<wchar_t> characters;
    std::set<std::vector<COLORREF>> pictures;
    for (const wchar_t c : text) {
        if (c <= L' ' || c == 0x3000 || !characters.insert(c).second)
            continue;
        RECT box{0, 0, 64, 64};
        ::FillRect(dc, &box, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::TextOutW(dc, 2, 2, &c, 1);
        std::vector<COLORREF> picture;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                picture.push_back(::GetPixel(dc, x, y));
        pictures.insert(std::move(picture));
    }
    return concat(",\"characters\":", std::to_string(characters.size()), ",\"pictures\":",
                  std::to_string(pictures.size()));
}

// --- MSAA, as a screen reader reads it --------------------------------------

// A reference to an object of another process's, released with the scope.
struct Released {
    void operator()(IUnknown* object) const { object->Release(); }
};
using AccessiblePtr = std::unique_ptr<IAccessible, Released>;

AccessiblePtr accessibleOf(HWND control)
{
    IAccessible* object = nullptr;
    if (!control
        || FAILED(::AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                               reinterpret_cast<void**>(&object))))
        return nullptr;
    return AccessiblePtr(object);
}

VARIANT self()
{
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = CHILDID_SELF;
    return child;
}

// One of the object's texts (BSTR) or numbers (VARIANT), or null.
template <typename Value>
std::string accessibleJson(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, Value*), IAccessible& object)
{
    Value value{};
    if (FAILED((object.*get)(self(), &value)))
        return "null";
    if constexpr (std::is_same_v<Value, BSTR>) {
        const std::string json = value ? quoted(value) : "null";
        ::SysFreeString(value);
        return json;
    } else {
        return value.vt == VT_I4 ? std::to_string(value.lVal) : "null";
    }
}

std::string accessibleJson(HWND control)
{
    const AccessiblePtr object = accessibleOf(control);
    if (!object)
        return "";
    return concat(",\"name\":", accessibleJson(&IAccessible::get_accName, *object),
                  ",\"role\":", accessibleJson(&IAccessible::get_accRole, *object),
                  ",\"state\":", accessibleJson(&IAccessible::get_accState, *object),
                  ",\"defaultAction\":", accessibleJson(&IAccessible::get_accDefaultAction, *object));
}

// --- Windows as a whole -----------------------------------------------------

std::string controlJson(HWND control)
{
    const std::wstring kind = className(control);
    const std::wstring text = windowText(control);
    return concat("{\"id\":", std::to_string(::GetDlgCtrlID(control)), ",\"class\":", quoted(kind),
                  ",\"text\":", quoted(text), ",\"enabled\":", boolean(::IsWindowEnabled(control)),
                  ",\"rect\":", rectJson(control),
                  _wcsicmp(kind.c_str(), L"ComboBox") == 0 ? comboJson(control) : glyphsJson(control, text),
                  accessibleJson(control), "}");
}

BOOL CALLBACK collectWindow(HWND window, LPARAM found)
{
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::string windowJson(HWND window)
{
    std::vector<HWND> children;
    ::EnumChildWindows(window, &collectWindow, reinterpret_cast<LPARAM>(&children));
    std::string controls;
    for (const HWND child : children) {
        if (::GetParent(child) == window)
            controls += concat(controls.empty() ? "" : ",", controlJson(child));
    }
    const HWND owner = ::GetWindow(window, GW_OWNER);
    return concat("{\"found\":true,\"title\":", quoted(windowText(window)),
                  ",\"visible\":", boolean(::IsWindowVisible(window)),
                  ",\"foreground\":", boolean(::GetForegroundWindow() == window),
                  ",\"enabled\":", boolean(::IsWindowEnabled(window)),
                  ",\"owner\":", owner ? quoted(className(owner) + L"|" + windowText(owner)) : "null",
                  ",\"style\":", std::to_string(static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE))),
                  ",\"rect\":", rectJson(window), ",\"face\":", std::to_string(::GetSysColor(COLOR_BTNFACE)),
                  ",\"controls\":[", controls, "]}");
}

// --- Commands ---------------------------------------------------------------

HWND find(const wchar_t* windowClass, const wchar_t* title)
{
    return ::FindWindowW(windowClass, *title ? title : nullptr);
}

void showWindow(const wchar_t* windowClass, const wchar_t* title)
{
    const HWND window = find(windowClass, title);
    print(window ? windowJson(window) : "{\"found\":false}");
}

// Posted, not sent, but for MSAA's action: an action that opens a modal
// window must not hold the probe.
bool perform(HWND window, HWND control, int id, std::wstring_view action)
{
    if (action == L"click")
        return ::PostMessageW(control, BM_CLICK, 0, 0);
    if (action == L"notify")
        return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    if (action == L"help-key")
        return ::PostMessageW(control, WM_KEYDOWN, VK_F1,
                              static_cast<LPARAM>(1 | ::MapVirtualKeyW(VK_F1, MAPVK_VK_TO_VSC) << 16));
    if (action == L"close")
        return ::PostMessageW(window, WM_CLOSE, 0, 0);
    const AccessiblePtr object = accessibleOf(control);
    return action == L"default-action" && object && SUCCEEDED(object->accDoDefaultAction(self()));
}

void act(const wchar_t* windowClass, const wchar_t* title, int id, std::wstring_view action)
{
    const HWND window = find(windowClass, title);
    const HWND control = window && id ? ::GetDlgItem(window, id) : window;
    const ULONGLONG start = ::GetTickCount64();
    const bool done = control && perform(window, control, id, action);
    print(concat("{\"done\":", boolean(done), ",\"ms\":", std::to_string(::GetTickCount64() - start), "}"));
}

// Wine's own request to its mount manager for a drive letter, as winecfg
// makes it: the letter's dosdevices link and its type under
// HKLM\Software\Wine\Drives. The Unix path follows the structure.
constexpr DWORD defineUnixDrive = CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
struct WineUnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

void defineDrive(wchar_t letter, const std::wstring& type, const std::wstring& path)
{
    // The path in UTF-8, at most three bytes for each UTF-16 unit, and its zero.
    std::string unixPath(path.size() * 3 + 1, '\0');
    unixPath.resize(static_cast<std::size_t>(::WideCharToMultiByte(
        CP_UTF8, 0, path.c_str(), -1, unixPath.data(), static_cast<int>(unixPath.size()), nullptr, nullptr)));
    std::vector<char> request(sizeof(WineUnixDrive) + unixPath.size(), '\0');
    auto* drive = reinterpret_cast<WineUnixDrive*>(request.data());
    drive->size = static_cast<ULONG>(request.size());
    drive->type = type == L"cdrom" ? DRIVE_CDROM : type == L"removable" ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
    drive->letter = letter;
    drive->mountPointOffset = path.empty() ? 0 : sizeof(WineUnixDrive);
    std::copy(unixPath.begin(), unixPath.end(), request.begin() + sizeof(WineUnixDrive));
    const UniqueHandle manager(::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD returned = 0;
    const bool defined = manager.get() != INVALID_HANDLE_VALUE
                         && ::DeviceIoControl(manager.get(), defineUnixDrive, request.data(),
                                              static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
    print(concat("{\"defined\":", boolean(defined), "}"));
}

// What Windows sends every top-level window when a volume comes or goes;
// here to the one window, as Wine's broadcast reaches no other program's.
// Sent, not posted: the volume's description travels with the message.
void deviceChange(const std::wstring& event, wchar_t letter, const wchar_t* windowClass, const wchar_t* title)
{
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (letter - L'A');
    const WPARAM code = event == L"arrival" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    const HWND window = find(windowClass, title);
    DWORD_PTR answer = 0;
    const bool sent = window
                      && ::SendMessageTimeoutW(window, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(&volume),
                                               SMTO_ABORTIFHUNG, 5000, &answer);
    print(concat("{\"sent\":", boolean(sent), "}"));
}

// One apartment for the probe's one thread, for as long as it asks.
class ComApartment {
public:
    ComApartment() { ::CoInitialize(nullptr); }
    ~ComApartment() { ::CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const ComApartment apartment;
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const auto is = [&](const wchar_t* command, std::size_t count) {
        return !args.empty() && args[0] == command && args.size() == count + 1;
    };
    if (is(L"window", 2))
        showWindow(argv[2], argv[3]);
    else if (is(L"act", 4))
        act(argv[2], argv[3], std::stoi(args[3]), args[4]);
    else if (is(L"define-drive", 3))
        defineDrive(argv[2][0], args[2], args[3]);
    else if (is(L"device-change", 4))
        deviceChange(args[1], argv[3][0], argv[4], argv[5]);
    else {
        print("{\"error\":\"usage: probe window|act|define-drive|device-change ...\"}");
        return 2;
    }
    return 0;
}

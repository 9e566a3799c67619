// Reads and works the program's real windows from another process, as a user
// or an accessibility tool would, for the checks under Wine. Every answer is
// one JSON object on stdout, in UTF-8.
//
//   probe window CLASS TITLE              the window, its controls and their texts
//   probe wait-window CLASS TITLE MS      the same, once the window is there
//   probe wait-gone CLASS TITLE MS        whether the window went within MS
//   probe wait-text CLASS TITLE ID TEXT MS  whether control ID came to read TEXT
//   probe click CLASS TITLE ID            a click on a button or a notifying label
//   probe notify CLASS TITLE ID           the control's click as it tells its window,
//                                         with no click: the window is not activated
//   probe help-key CLASS TITLE ID         F1 pressed on control ID, as the keyboard
//                                         queues it for the program's loop
//   probe close CLASS TITLE               asks the window to close, as its title bar's X
//   probe accessible CLASS TITLE          each control's MSAA name, role, state and
//                                         default action
//   probe default-action CLASS TITLE ID   performs the control's MSAA default action,
//                                         saying how long the call took
//   probe windows                         every top-level window and its process, and
//                                         which is in front
//   probe version FILE                    the file's version resource
//   probe system                          the code page and drive D:
//   probe define-drive LETTER TYPE PATH   Wine's mount manager makes LETTER a
//                                         drive of TYPE (cdrom, removable or
//                                         none, which removes it) on the Unix
//                                         folder PATH, as winecfg does
//   probe device-change EVENT LETTER CLASS TITLE  tells the window a volume
//                                         on LETTER arrived or was removed

#include "platform/win32/win32_handles.h"

#include <windows.h>
#include <dbt.h>
#include <oleacc.h>
#include <tlhelp32.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <memory>
#include <set>
#include <string>
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

std::string utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

// Control characters are escaped so that a CR LF inside a label's text
// reaches the checks as it is.
std::string quoted(std::wstring_view text)
{
    std::string out = "\"";
    for (const char c : utf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string boolean(bool value)
{
    return value ? "true" : "false";
}

std::string rectJson(const RECT& r)
{
    return concat("[", std::to_string(r.left), ",", std::to_string(r.top), ",", std::to_string(r.right), ",",
                  std::to_string(r.bottom), "]");
}

// Written as bytes, not through the console, so that a pipe receives UTF-8
// whatever the code page.
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

RECT windowRect(HWND window)
{
    RECT box{};
    ::GetWindowRect(window, &box);
    return box;
}

std::string comboJson(HWND combo)
{
    const auto count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    std::string items = "[";
    for (LRESULT i = 0; i < count; ++i) {
        const auto index = static_cast<WPARAM>(i);
        std::wstring item(static_cast<std::size_t>(::SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
        const auto length = ::SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
        items += concat(i ? "," : "", quoted(item));
    }
    return concat(",\"items\":", items, "],\"selected\":", std::to_string(::SendMessageW(combo, CB_GETCURSEL, 0, 0)));
}

// A drawing surface of our own, deleted with the scope.
class MemoryDc {
public:
    explicit MemoryDc(HDC like) : dc_(::CreateCompatibleDC(like)) {}
    ~MemoryDc() { ::DeleteDC(dc_); }
    MemoryDc(const MemoryDc&) = delete;
    MemoryDc& operator=(const MemoryDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// Whether the control's font, with whatever fallback fonts the system links
// to it, gives each distinct character of its text a picture of its own: a
// font without Chinese would draw them all as one and the same box.
std::string glyphsJson(HWND control, const std::wstring& text)
{
    const HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    const trayvo::WindowDc screen(nullptr);
    const MemoryDc memory(screen.get());
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

std::string controlJson(HWND control)
{
    const std::wstring kind = className(control);
    const std::wstring text = windowText(control);
    std::string json = concat("{\"id\":", std::to_string(::GetDlgCtrlID(control)), ",\"class\":", quoted(kind),
                              ",\"text\":", quoted(text), ",\"enabled\":", boolean(::IsWindowEnabled(control)),
                              ",\"visible\":", boolean(::IsWindowVisible(control)),
                              ",\"rect\":", rectJson(windowRect(control)));
    if (_wcsicmp(kind.c_str(), L"ComboBox") == 0)
        json += comboJson(control);
    else
        json += glyphsJson(control, text);
    return json + "}";
}

BOOL CALLBACK collectWindow(HWND window, LPARAM found)
{
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::string ownerJson(HWND owner)
{
    return owner ? concat("{\"class\":", quoted(className(owner)), ",\"title\":", quoted(windowText(owner)), "}")
                 : "null";
}

std::string windowJson(HWND window)
{
    std::vector<HWND> children;
    ::EnumChildWindows(window, &collectWindow, reinterpret_cast<LPARAM>(&children));
    std::string controls = "[";
    for (const HWND child : children) {
        if (::GetParent(child) == window)
            controls += concat(controls.size() > 1 ? "," : "", controlJson(child));
    }
    RECT client{};
    ::GetClientRect(window, &client);
    ::MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return concat("{\"found\":true,\"title\":", quoted(windowText(window)), ",\"class\":", quoted(className(window)),
                  ",\"visible\":", boolean(::IsWindowVisible(window)), ",\"enabled\":",
                  boolean(::IsWindowEnabled(window)), ",\"owner\":", ownerJson(::GetWindow(window, GW_OWNER)),
                  ",\"style\":", std::to_string(static_cast<DWORD>(::GetWindowLongPtrW(window, GWL_STYLE))),
                  ",\"rect\":", rectJson(windowRect(window)), ",\"client\":", rectJson(client), ",\"face\":",
                  std::to_string(::GetSysColor(COLOR_BTNFACE)), ",\"controls\":", controls, "]}");
}

HWND findWindow(const wchar_t* windowClass, const wchar_t* title)
{
    return ::FindWindowW(windowClass, title);
}

// Every wait is bounded by the caller's limit; the answer says how long it took.
template <typename Done>
bool waitFor(DWORD limitMs, Done done, DWORD& tookMs)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        tookMs = static_cast<DWORD>(::GetTickCount64() - start);
        if (done())
            return true;
        if (tookMs >= limitMs)
            return false;
        ::Sleep(50);
    }
}

DWORD milliseconds(const wchar_t* text)
{
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 10));
}

// --- Commands ---------------------------------------------------------------

int showWindow(const wchar_t* windowClass, const wchar_t* title)
{
    const HWND window = findWindow(windowClass, title);
    print(window ? windowJson(window) : "{\"found\":false}");
    return window ? 0 : 1;
}

int waitWindow(const wchar_t* windowClass, const wchar_t* title, DWORD limitMs)
{
    HWND window = nullptr;
    DWORD took = 0;
    waitFor(limitMs, [&] { return (window = findWindow(windowClass, title)) && ::IsWindowVisible(window); }, took);
    print(window ? windowJson(window) : "{\"found\":false}");
    return window ? 0 : 1;
}

int waitGone(const wchar_t* windowClass, const wchar_t* title, DWORD limitMs)
{
    DWORD took = 0;
    const bool gone = waitFor(limitMs, [&] { return !findWindow(windowClass, title); }, took);
    print(concat("{\"gone\":", boolean(gone), ",\"ms\":", std::to_string(took), "}"));
    return gone ? 0 : 1;
}

int waitText(const wchar_t* windowClass, const wchar_t* title, int id, const wchar_t* wanted, DWORD limitMs)
{
    std::wstring last;
    DWORD took = 0;
    const bool reached = waitFor(
        limitMs,
        [&] {
            const HWND window = findWindow(windowClass, title);
            const HWND control = window ? ::GetDlgItem(window, id) : nullptr;
            last = control ? windowText(control) : L"";
            return control && last == wanted;
        },
        took);
    print(concat("{\"reached\":", boolean(reached), ",\"text\":", quoted(last), ",\"ms\":", std::to_string(took), "}"));
    return reached ? 0 : 1;
}

// Posted, not sent: a click that opens a modal window must not hold the probe.
int click(const wchar_t* windowClass, const wchar_t* title, int id, bool notifyOnly)
{
    const HWND window = findWindow(windowClass, title);
    const HWND control = window ? ::GetDlgItem(window, id) : nullptr;
    if (!control) {
        print("{\"clicked\":false}");
        return 1;
    }
    const std::wstring kind = className(control);
    const bool button = _wcsicmp(kind.c_str(), L"Button") == 0;
    if (button && !notifyOnly) {
        ::PostMessageW(control, BM_CLICK, 0, 0);
    } else {
        // A button, or a label with SS_NOTIFY, tells its window of a click
        // this way.
        const WORD code = button ? BN_CLICKED : STN_CLICKED;
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
    }
    print(concat("{\"clicked\":true,\"class\":", quoted(kind), "}"));
    return 0;
}

// Posted as the keyboard posts it, so that the program's own loop meets it.
int helpKey(const wchar_t* windowClass, const wchar_t* title, int id)
{
    const HWND window = findWindow(windowClass, title);
    const HWND control = window ? ::GetDlgItem(window, id) : nullptr;
    const UINT scanCode = ::MapVirtualKeyW(VK_F1, MAPVK_VK_TO_VSC);
    const bool posted = control && ::PostMessageW(control, WM_KEYDOWN, VK_F1, static_cast<LPARAM>(1 | scanCode << 16));
    print(concat("{\"posted\":", boolean(posted), "}"));
    return posted ? 0 : 1;
}

// --- MSAA, as a screen reader reads it --------------------------------------

// One apartment for the probe's one thread, for as long as it asks.
class ComApartment {
public:
    ComApartment() { ::CoInitialize(nullptr); }
    ~ComApartment() { ::CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

// A reference to an object of another process's, released with the scope.
struct Released {
    void operator()(IUnknown* object) const { object->Release(); }
};
using AccessiblePtr = std::unique_ptr<IAccessible, Released>;

AccessiblePtr accessibleOf(HWND control)
{
    IAccessible* object = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
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

std::string textJson(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*), IAccessible& object)
{
    BSTR text = nullptr;
    if (FAILED((object.*get)(self(), &text)) || !text)
        return "null";
    const std::string json = quoted(text);
    ::SysFreeString(text);
    return json;
}

std::string numberJson(HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, VARIANT*), IAccessible& object)
{
    VARIANT value{};
    if (FAILED((object.*get)(self(), &value)) || value.vt != VT_I4)
        return "null";
    return std::to_string(value.lVal);
}

int showAccessible(const wchar_t* windowClass, const wchar_t* title)
{
    const ComApartment apartment;
    const HWND window = findWindow(windowClass, title);
    std::vector<HWND> children;
    if (window)
        ::EnumChildWindows(window, &collectWindow, reinterpret_cast<LPARAM>(&children));
    std::string controls = "[";
    for (const HWND child : children) {
        const AccessiblePtr object = accessibleOf(child);
        if (!object || ::GetParent(child) != window)
            continue;
        controls += concat(controls.size() > 1 ? "," : "", "{\"id\":", std::to_string(::GetDlgCtrlID(child)),
                           ",\"name\":", textJson(&IAccessible::get_accName, *object),
                           ",\"role\":", numberJson(&IAccessible::get_accRole, *object),
                           ",\"state\":", numberJson(&IAccessible::get_accState, *object),
                           ",\"defaultAction\":", textJson(&IAccessible::get_accDefaultAction, *object), "}");
    }
    print(concat("{\"found\":", boolean(window), ",\"controls\":", controls, "]}"));
    return window ? 0 : 1;
}

int defaultAction(const wchar_t* windowClass, const wchar_t* title, int id)
{
    const ComApartment apartment;
    const HWND window = findWindow(windowClass, title);
    const AccessiblePtr object = window ? accessibleOf(::GetDlgItem(window, id)) : nullptr;
    const ULONGLONG start = ::GetTickCount64();
    const bool done = object && SUCCEEDED(object->accDoDefaultAction(self()));
    print(concat("{\"done\":", boolean(done), ",\"ms\":", std::to_string(::GetTickCount64() - start), "}"));
    return done ? 0 : 1;
}

int close(const wchar_t* windowClass, const wchar_t* title)
{
    const HWND window = findWindow(windowClass, title);
    if (window)
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    print(concat("{\"closed\":", boolean(window), "}"));
    return window ? 0 : 1;
}

std::wstring processName(DWORD processId)
{
    const UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE)
        return {};
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == processId)
            return entry.szExeFile;
    }
    return {};
}

int listWindows()
{
    std::vector<HWND> windows;
    ::EnumWindows(&collectWindow, reinterpret_cast<LPARAM>(&windows));
    std::string list = "[";
    for (const HWND window : windows) {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(window, &processId);
        list += concat(list.size() > 1 ? "," : "", "{\"title\":", quoted(windowText(window)), ",\"class\":",
                       quoted(className(window)), ",\"process\":", quoted(processName(processId)),
                       ",\"visible\":", boolean(::IsWindowVisible(window)), ",\"iconic\":",
                       boolean(::IsIconic(window)), "}");
    }
    print(concat("{\"windows\":", list, "],\"foreground\":", quoted(className(::GetForegroundWindow())), "}"));
    return 0;
}

int showVersion(const wchar_t* file)
{
    DWORD ignored = 0;
    std::vector<std::byte> data(::GetFileVersionInfoSizeW(file, &ignored));
    if (data.empty() || !::GetFileVersionInfoW(file, 0, static_cast<DWORD>(data.size()), data.data())) {
        print("{\"found\":false}");
        return 1;
    }
    void* value = nullptr;
    UINT size = 0;
    std::string json = "{\"found\":true";
    if (::VerQueryValueW(data.data(), L"\\", &value, &size) && size >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        const auto four = [](DWORD high, DWORD low) {
            return concat("[", std::to_string(HIWORD(high)), ",", std::to_string(LOWORD(high)), ",",
                          std::to_string(HIWORD(low)), ",", std::to_string(LOWORD(low)), "]");
        };
        json += concat(",\"fileVersion\":", four(fixed->dwFileVersionMS, fixed->dwFileVersionLS),
                       ",\"productVersion\":", four(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    }
    std::string translations = "[";
    if (::VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &size)) {
        const auto* words = static_cast<const WORD*>(value);
        for (UINT i = 0; i < size / sizeof(WORD); ++i)
            translations += concat(i ? "," : "", std::to_string(words[i]));
    }
    json += concat(",\"translation\":", translations, "],\"strings\":{");
    const wchar_t* names[] = {L"CompanyName", L"FileDescription", L"ProductName", L"FileVersion",
                              L"ProductVersion", L"InternalName", L"OriginalFilename"};
    bool first = true;
    for (const wchar_t* name : names) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
        if (!::VerQueryValueW(data.data(), path.c_str(), &value, &size))
            continue;
        const std::wstring text(static_cast<const wchar_t*>(value), size > 0 ? size - 1 : 0);
        json += concat(first ? "" : ",", quoted(name), ":", quoted(text.c_str()));
        first = false;
    }
    print(json + "}}");
    return 0;
}

int showSystem()
{
    ULARGE_INTEGER total{};
    const bool readable = ::GetDiskFreeSpaceExW(L"D:\\", nullptr, &total, nullptr);
    print(concat("{\"acp\":", std::to_string(::GetACP()), ",\"driveTypeD\":",
                 std::to_string(::GetDriveTypeW(L"D:\\")), ",\"discReadable\":", boolean(readable), "}"));
    return 0;
}

// Wine's own request to its mount manager for a drive letter, which
// writes the letter's dosdevices link and its type under
// HKLM\Software\Wine\Drives; followed by the Unix path.
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

int defineDrive(wchar_t letter, const std::wstring& type, const std::wstring& path)
{
    const std::string unixPath = utf8(path);
    std::vector<char> request(sizeof(WineUnixDrive) + unixPath.size() + 1, '\0');
    auto* drive = reinterpret_cast<WineUnixDrive*>(request.data());
    drive->size = static_cast<ULONG>(request.size());
    drive->type = type == L"cdrom" ? DRIVE_CDROM : type == L"removable" ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
    drive->letter = letter;
    drive->mountPointOffset = unixPath.empty() ? 0 : sizeof(WineUnixDrive);
    std::copy(unixPath.begin(), unixPath.end(), request.begin() + sizeof(WineUnixDrive));
    const UniqueHandle manager(::CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD returned = 0;
    const bool defined = manager.get() != INVALID_HANDLE_VALUE
                         && ::DeviceIoControl(manager.get(), defineUnixDrive, request.data(),
                                              static_cast<DWORD>(request.size()), nullptr, 0, &returned, nullptr);
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    print(concat("{\"defined\":", boolean(defined), ",\"driveType\":", std::to_string(::GetDriveTypeW(root)), "}"));
    return defined ? 0 : 1;
}

// What Windows sends every top-level window when a volume comes or goes;
// here to the one window, as Wine's broadcast reaches no other program's.
// Sent, not posted: the volume's description travels with the message.
int deviceChange(const std::wstring& event, wchar_t letter, const wchar_t* windowClass, const wchar_t* title)
{
    const HWND window = findWindow(windowClass, title);
    DEV_BROADCAST_VOLUME volume{};
    volume.dbcv_size = sizeof volume;
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << (std::towupper(letter) - L'A');
    const WPARAM code = event == L"arrival" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
    DWORD_PTR answer = 0;
    const bool sent = window
                      && ::SendMessageTimeoutW(window, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(&volume),
                                               SMTO_ABORTIFHUNG, 5000, &answer);
    print(concat("{\"sent\":", boolean(sent), "}"));
    return sent ? 0 : 1;
}

int usage()
{
    print("{\"error\":\"usage: probe window|wait-window|wait-gone|wait-text|click|notify|accessible|default-action|"
          "help-key|close|windows|version|"
          "system|define-drive|device-change ...\"}");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const auto is = [&](const wchar_t* command, std::size_t count) {
        return !args.empty() && args[0] == command && args.size() == count + 1;
    };
    if (is(L"window", 2))
        return showWindow(argv[2], argv[3]);
    if (is(L"wait-window", 3))
        return waitWindow(argv[2], argv[3], milliseconds(argv[4]));
    if (is(L"wait-gone", 3))
        return waitGone(argv[2], argv[3], milliseconds(argv[4]));
    if (is(L"wait-text", 5))
        return waitText(argv[2], argv[3], std::stoi(args[3]), argv[5], milliseconds(argv[6]));
    if (is(L"click", 3) || is(L"notify", 3))
        return click(argv[2], argv[3], std::stoi(args[3]), args[0] == L"notify");
    if (is(L"accessible", 2))
        return showAccessible(argv[2], argv[3]);
    if (is(L"default-action", 3))
        return defaultAction(argv[2], argv[3], std::stoi(args[3]));
    if (is(L"help-key", 3))
        return helpKey(argv[2], argv[3], std::stoi(args[3]));
    if (is(L"close", 2))
        return close(argv[2], argv[3]);
    if (is(L"windows", 0))
        return listWindows();
    if (is(L"version", 1))
        return showVersion(argv[2]);
    if (is(L"system", 0))
        return showSystem();
    if (is(L"define-drive", 3))
        return defineDrive(argv[2][0], args[2], args[3]);
    if (is(L"device-change", 4))
        return deviceChange(args[1], argv[3][0], argv[4], argv[5]);
    return usage();
}

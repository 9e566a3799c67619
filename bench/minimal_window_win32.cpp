// The baseline the Windows program is held against (bench/wine_startup.sh):
// the least a Win32 program can show, one window with one STATIC label. The
// label's text is Chinese and its font Arial at the size of the program's
// labels, so that the baseline too has the font system find the Chinese
// glyphs behind Arial. Linked as the program is: static, GUI subsystem.

#include <windows.h>

#include <cmath>

namespace {

constexpr wchar_t windowClass[] = L"Trayvo2010Baseline";

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    WNDCLASSEXW formClass{};
    formClass.cbSize = sizeof formClass;
    formClass.lpfnWndProc = &windowProc;
    formClass.hInstance = instance;
    formClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    formClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    formClass.lpszClassName = windowClass;
    if (!::RegisterClassExW(&formClass))
        return 1;

    const HWND window = ::CreateWindowExW(0, windowClass, L"Trayvo2010 baseline",
                                          WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                                          CW_USEDEFAULT, 320, 120, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    const HDC screen = ::GetDC(nullptr);
    const int height = -static_cast<int>(std::lround(11.25 * ::GetDeviceCaps(screen, LOGPIXELSY) / 72.0));
    ::ReleaseDC(nullptr, screen);
    const HFONT font = ::CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                     DEFAULT_PITCH | FF_SWISS, L"Arial");
    const HWND label = ::CreateWindowExW(0, L"STATIC", L"检测到可用的光驱设备：", WS_CHILD | WS_VISIBLE | SS_LEFT,
                                         24, 16, 260, 24, window, nullptr, instance, nullptr);
    ::SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ::ShowWindow(window, SW_SHOW);

    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::DeleteObject(font);
    return static_cast<int>(message.wParam);
}

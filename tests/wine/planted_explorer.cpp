// Stands in for an explorer.exe left beside the program, as by a zip unpacked
// into Downloads. Should it ever run, it leaves its command line, in UTF-16,
// in planted-explorer-ran.txt beside itself, and ends.

#include "platform/win32/win32_handles.h"

#include <windows.h>

#include <string>
#include <string_view>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    path = path.substr(0, path.find_last_of(L'\\') + 1) + L"planted-explorer-ran.txt";
    const trayvo::UniqueHandle record(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::wstring_view commandLine = ::GetCommandLineW();
    DWORD written = 0;
    ::WriteFile(record.get(), commandLine.data(), static_cast<DWORD>(commandLine.size() * sizeof(wchar_t)), &written,
                nullptr);
    return 0;
}

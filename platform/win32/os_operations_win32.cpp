#include "platform/win32/os_operations_win32.h"

#include "platform/win32/ansi_win32.h"
#include "platform/win32/wide_text_win32.h"
#include "platform/win32/win32_handles.h"

#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace trayvo {
namespace {

// The system's own explorer.exe, in the shared Windows folder: on a terminal
// server GetWindowsDirectory gives a program such as this one a folder of the
// user's own instead. Empty should the folder not be known.
std::wstring systemExplorer()
{
    const UINT size = ::GetSystemWindowsDirectoryW(nullptr, 0);
    std::wstring folder(size, L'\0');
    const UINT length = ::GetSystemWindowsDirectoryW(folder.data(), size);
    if (length == 0 || length >= size)
        return {};
    folder.resize(length);
    return folder + (folder.ends_with(L'\\') ? L"" : L"\\") + L"explorer.exe";
}

} // namespace

// The letters in use, A to Z: a letter that is not is never a CD-ROM drive,
// and asking its type would cost a round trip to the system each.
std::vector<DriveRoot> Win32OsOperations::candidateRoots() const
{
    const DWORD inUse = ::GetLogicalDrives();
    std::vector<DriveRoot> roots;
    for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
        if (inUse & (1u << (letter - u'A')))
            roots.push_back(DriveRoot{letter, u':', u'\\'});
    }
    return roots;
}

DriveType Win32OsOperations::getDriveType(const DriveRoot& root) const
{
    return static_cast<DriveType>(::GetDriveTypeA(toAnsi(root).c_str()));
}

// A failing call leaves the outputs as they were, hence the zeros first: a
// drive without a readable disc reads as no clusters at all.
DiskFreeSpace Win32OsOperations::getDiskFreeSpace(const DriveRoot& root) const
{
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    ::GetDiskFreeSpaceA(toAnsi(root).c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters);
    return {sectorsPerCluster, bytesPerSector, freeClusters, totalClusters};
}

// Without winmm the command fails as a command to a missing device does.
std::uint32_t Win32OsOperations::sendMciString(const std::u16string& command)
{
    const auto send = winmm_.entry<decltype(::mciSendStringA)>("mciSendStringA");
    if (!send)
        return MCIERR_DEVICE_NOT_INSTALLED;
    char returned[128] = {};
    return send(toAnsi(command).c_str(), returned, 0, nullptr);
}

// The one command line the program starts is the file explorer on a drive,
// "explorer.exe " and the drive's root. Named alone, the explorer would be
// looked for in the program's own folder and the current one first, where
// anyone able to leave a file (a zip unpacked into Downloads) could have put
// an explorer.exe of their own; so the system's own is named by its full path,
// and the command line stays as the program formed it.
bool Win32OsOperations::startProcess(const std::u16string& commandLine, ShowState showState)
{
    const std::wstring explorer = systemExplorer();
    if (!commandLine.starts_with(u"explorer.exe ") || explorer.empty())
        return false;
    std::wstring line = toWide(commandLine); // CreateProcessW may write into it
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showState);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(explorer.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process))
        return false;
    const UniqueHandle processHandle(process.hProcess);
    const UniqueHandle threadHandle(process.hThread);
    return true;
}

namespace {

// ShellExecute may hand the address to a shell extension through COM, which
// the calling thread must have started; the thread it runs on has nothing
// else of COM's.
class ComApartment {
public:
    explicit ComApartment(SystemLibrary& ole32)
        : uninitialize_(ole32.entry<decltype(::CoUninitialize)>("CoUninitialize"))
    {
        const auto initialize = ole32.entry<decltype(::CoInitializeEx)>("CoInitializeEx");
        started_ = initialize && uninitialize_
            && SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    }
    ~ComApartment()
    {
        if (started_)
            uninitialize_();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    decltype(::CoUninitialize)* uninitialize_;
    bool started_ = false;
};

} // namespace

void Win32OsOperations::shellExecute(WindowHandle owner, const std::u16string& url)
{
    const auto execute = shell32_.entry<decltype(::ShellExecuteA)>("ShellExecuteA");
    if (!execute)
        return;
    const ComApartment com(ole32_);
    execute(reinterpret_cast<HWND>(owner), nullptr, toAnsi(url).c_str(), nullptr, nullptr,
            static_cast<int>(ShowState::Maximized));
}

} // namespace trayvo

#pragma once

#include "platform/os_operations.h"
#include "platform/win32/system_library_win32.h"

namespace trayvo {

// The drives and programs of a Windows PC through kernel32, winmm and
// shell32, each text converted to the system's ANSI code page at the call.
class Win32OsOperations final : public OsOperations {
public:
    std::vector<DriveRoot> candidateRoots() const override;
    DriveType getDriveType(const DriveRoot& root) const override;
    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override;
    std::uint32_t sendMciString(const std::u16string& command) override;
    bool startProcess(const std::u16string& commandLine, ShowState showState) override;
    void shellExecute(WindowHandle owner, const std::u16string& url) override;

private:
    SystemLibrary winmm_{L"winmm.dll"};
    SystemLibrary shell32_{L"shell32.dll"};
    SystemLibrary ole32_{L"ole32.dll"};
};

} // namespace trayvo

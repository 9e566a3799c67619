// Program start on Windows: kernel32's drives, Win32 windows.

#include "drives/ctlCdrom.h"
#include "platform/off_thread_os_operations.h"
#include "platform/win32/dll_search_win32.h"
#include "platform/win32/error_mode_win32.h"
#include "platform/win32/os_operations_win32.h"
#include "platform/win32/runtime_win32.h"
#include "ui/app_identity.h"
#include "ui/main/frmMain.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    trayvo::loadDllsFromSystemFolderOnly();
    trayvo::failCriticalErrorsQuietly();
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&controls);

    using namespace trayvo;
    Win32WindowRuntime runtime(instance, appIdentity);
    // The drives are asked off the window's thread: a drive that does not
    // answer must not stall the window. A call still blocked when the window
    // is closed is left to Windows, which ends it with the process; it shares
    // the operations it uses, so nothing it touches goes before.
    OffThreadOsOperations os(runtime, std::make_shared<Win32OsOperations>());
    ctlCdrom drives(os);
    frmMain mainWindow(runtime, drives, os);
    mainWindow.Show();
    return runtime.run();
}

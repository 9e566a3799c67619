#include "platform/win32/error_mode_win32.h"

#include <windows.h>

namespace trayvo {

// Setting the mode is the one way to read it that every Windows version has.
void failCriticalErrorsQuietly()
{
    const UINT inherited = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    ::SetErrorMode(inherited | SEM_FAILCRITICALERRORS);
}

} // namespace trayvo

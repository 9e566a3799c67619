#include "platform/win32/dll_search_win32.h"

#include <windows.h>

namespace trayvo {
namespace {

// Looked up rather than imported: an exe importing it would not start at all
// on a Windows 7 without the update.
using SetDefaultDllDirectoriesFunction = BOOL WINAPI(DWORD);

SetDefaultDllDirectoriesFunction* setDefaultDllDirectories()
{
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel32 ? ::GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFunction*>(reinterpret_cast<void*>(found));
}

} // namespace

bool systemFolderSearchAvailable()
{
    return setDefaultDllDirectories() != nullptr;
}

void loadDllsFromSystemFolderOnly()
{
    SetDefaultDllDirectoriesFunction* const setDefault = setDefaultDllDirectories();
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        ::SetDllDirectoryW(L"");
}

} // namespace trayvo

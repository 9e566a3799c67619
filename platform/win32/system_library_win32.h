#pragma once

#include "platform/win32/dll_search_win32.h"
#include "platform/win32/win32_handles.h"

#include <windows.h>

namespace trayvo {

// A DLL of the system's own folder, loaded at the first call into it and
// freed with this object. The program needs winmm, shell32 and ole32 only on
// a click: loaded at start, they would cost every start the time Windows
// takes to map them and the DLLs they pull in. Loaded from the system folder
// alone, never found in the program's folder or the current one, where
// anyone able to leave a file could have put a DLL of the same name.
class SystemLibrary {
public:
    // Where LoadLibraryExW cannot be told to search the system folder alone
    // (searchFlagsWork false), the DLL is loaded by its full path there.
    explicit SystemLibrary(const wchar_t* name, bool searchFlagsWork = systemFolderSearchAvailable())
        : name_(name)
        , searchFlagsWork_(searchFlagsWork)
    {
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    // The entry point called name, typed as Function; null when the library
    // or the entry point is missing.
    template <typename Function>
    Function* entry(const char* name)
    {
        return reinterpret_cast<Function*>(reinterpret_cast<void*>(find(name)));
    }

private:
    FARPROC find(const char* name);

    HMODULE load() const;

    const wchar_t* name_;
    bool searchFlagsWork_;
    UniqueModule module_;
};

} // namespace trayvo

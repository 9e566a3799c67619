#pragma once

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
    explicit SystemLibrary(const wchar_t* name) : name_(name) {}
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

    const wchar_t* name_;
    UniqueModule module_;
};

} // namespace trayvo

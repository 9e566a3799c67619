#include "platform/win32/system_library_win32.h"

namespace trayvo {

FARPROC SystemLibrary::find(const char* name)
{
    if (!module_)
        module_.reset(::LoadLibraryExW(name_, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    return module_ ? ::GetProcAddress(module_.get(), name) : nullptr;
}

} // namespace trayvo

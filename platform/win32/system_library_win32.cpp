#include "platform/win32/system_library_win32.h"

#include <string>

namespace trayvo {

FARPROC SystemLibrary::find(const char* name)
{
    if (!module_)
        module_.reset(load());
    return module_ ? ::GetProcAddress(module_.get(), name) : nullptr;
}

HMODULE SystemLibrary::load() const
{
    if (searchFlagsWork_)
        return ::LoadLibraryExW(name_, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    std::wstring path(MAX_PATH, L'\0');
    const UINT length = ::GetSystemDirectoryW(path.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    path.resize(length);
    // The DLLs it needs in turn are then looked for in its own folder first,
    // rather than in the program's.
    return ::LoadLibraryExW((path + L'\\' + name_).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

} // namespace trayvo

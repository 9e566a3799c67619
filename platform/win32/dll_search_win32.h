#pragma once

namespace trayvo {

// Whether LoadLibraryExW takes LOAD_LIBRARY_SEARCH_SYSTEM32: Windows 8 on,
// and Windows 7 with update KB2533623, which brings it together with
// SetDefaultDllDirectories.
bool systemFolderSearchAvailable();

// From here on, a DLL loaded by bare name, by the program or by a system
// component on its behalf (the MCI driver the registry names, a shell
// extension's dependencies), comes from the system folder only: never from
// the program's folder, typically Downloads, nor from the current one.
// Without the update above, only the current folder can be ruled out.
void loadDllsFromSystemFolderOnly();

} // namespace trayvo

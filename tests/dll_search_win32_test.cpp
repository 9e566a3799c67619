#include "platform/win32/dll_search_win32.h"
#include "platform/win32/system_library_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace trayvo {
namespace {

// Built beside this test, as a DLL left beside the program would be (a zip
// unpacked into Downloads), and named like none of the system's.
constexpr const wchar_t* planted = L"trayvo_planted.dll";

bool loadsByBareName(const wchar_t* name)
{
    return UniqueModule(::LoadLibraryW(name)) != nullptr;
}

// Once the program has started, no DLL comes from its own folder, whoever
// asks for it; the system's own still come, also by full path where the
// system folder cannot be named as the only place to search.
TEST(DllSearch, OnceStartedOnlyTheSystemFolderIsSearched)
{
    ASSERT_TRUE(loadsByBareName(planted)) << "the planted DLL is not beside the test";
    loadDllsFromSystemFolderOnly();
    EXPECT_FALSE(loadsByBareName(planted));
    EXPECT_TRUE(systemFolderSearchAvailable());
    for (const bool searchFlagsWork : {true, false}) {
        SystemLibrary winmm(L"winmm.dll", searchFlagsWork);
        EXPECT_NE(winmm.entry<void>("mciSendStringW"), nullptr) << "search flags work: " << searchFlagsWork;
        SystemLibrary notSystems(planted, searchFlagsWork);
        EXPECT_EQ(notSystems.entry<void>("trayvoPlanted"), nullptr) << "search flags work: " << searchFlagsWork;
    }
}

} // namespace
} // namespace trayvo

#include "platform/win32/error_mode_win32.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace trayvo {
namespace {

// Whoever starts the program may have chosen an error mode of their own: a
// debugger or a test harness that keeps crashes from bringing up a dialog.
TEST(ErrorMode, TheInheritedModeStaysAndCriticalErrorsFailQuietly)
{
    constexpr UINT inherited = SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    const UINT before = ::SetErrorMode(inherited);
    failCriticalErrorsQuietly();
    EXPECT_EQ(::SetErrorMode(before), inherited | SEM_FAILCRITICALERRORS);
}

} // namespace
} // namespace trayvo

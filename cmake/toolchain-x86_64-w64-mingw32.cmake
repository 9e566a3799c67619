# Cross-building the 64-bit twin of the Windows program, from the same
# sources: it keeps the code 64-bit clean, and its tests run under wine64 on
# hosts that cannot start 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TRAYVO_MINGW_PREFIX x86_64-w64-mingw32)
# Debian's wine script prefers the 32-bit loader whenever it is installed,
# also where the kernel cannot run it; the 64-bit one is called by its path.
find_program(TRAYVO_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

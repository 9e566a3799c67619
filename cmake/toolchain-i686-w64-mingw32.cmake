# Cross-building the 32-bit Windows program, the one that ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TRAYVO_MINGW_PREFIX i686-w64-mingw32)
# Debian's wine starts 32-bit programs with the 32-bit loader (wine32:i386).
find_program(TRAYVO_WINE NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

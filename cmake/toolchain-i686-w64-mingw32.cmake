# Cross-building the 32-bit Windows program with Debian's mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TRAYVO_MINGW_PREFIX i686-w64-mingw32)
# The POSIX threading flavour: GoogleTest's threads need it; the program
# itself starts none.
find_program(CMAKE_C_COMPILER NAMES ${TRAYVO_MINGW_PREFIX}-gcc-posix ${TRAYVO_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TRAYVO_MINGW_PREFIX}-g++-posix ${TRAYVO_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TRAYVO_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAYVO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests run under Wine.
find_program(TRAYVO_WINE NAMES wine)
if(TRAYVO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TRAYVO_WINE})
endif()

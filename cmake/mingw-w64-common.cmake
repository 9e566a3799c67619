# What both Windows cross-builds share, with Debian's mingw-w64; the
# toolchain file of each sets CMAKE_SYSTEM_PROCESSOR, TRAYVO_MINGW_PREFIX and
# the Wine loader that runs its programs, then includes this.
set(CMAKE_SYSTEM_NAME Windows)

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
if(TRAYVO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TRAYVO_WINE})
endif()

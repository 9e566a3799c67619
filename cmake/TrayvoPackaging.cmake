# The program as users get it, from `cpack` in the build tree: on Linux a
# Debian package of what `cmake --install` puts down,
# trayvo2010_<version>_<arch>.deb; on Windows a zip holding the one exe.
# Build them from a Release tree for anyone but the tests.

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME Trayvo2010-${PROJECT_VERSION}-win32)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    include(CPack)
    return()
endif()
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trayvo2010)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmoor个人工作室")
set(CPACK_PACKAGE_CONTACT "Velmoor个人工作室 <packages@quenbrook.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "optical drive tray and disc watch, in Simplified Chinese")
set(CPACK_PACKAGE_DESCRIPTION [=[
Trayvo2010 finds a computer's optical (CD and DVD) drives, tells how many
there are and lists them, and shows whether the chosen drive holds a
readable disc, checking once a second. Its windows speak Simplified
Chinese whatever the system's language.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
# The libraries the program links come from dpkg-shlibdeps. It cannot see
# what Qt loads at run time (its platform plugins and its Chinese texts for
# the standard buttons), the fonts the windows were laid out for, or
# xdg-open, which opens a disc's folder. Debian 12 and 13 keep the X11
# plugin in libqt6gui6 and the others in qt6-qpa-plugins, which libqt6gui6
# only recommends; these names are the same on both.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-liberation2, fonts-wqy-microhei, qt6-translations-l10n, xdg-utils")
# UDisks2 lets go of a mounted disc before its tray opens and mounts one whose
# folder is asked for; without it the drive list and the disc watch still work.
# Qt's Wayland platform plugin lets a Wayland session run the program
# natively; without it Qt falls back to X through Xwayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udisks2, qt6-wayland")

# Debian wants the licence where every package keeps it.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/trayvo2010
    RENAME copyright)

include(CPack)

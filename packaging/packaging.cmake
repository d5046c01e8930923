# Desktop integration and the Debian package. Included from the top-level
# CMakeLists.txt after all targets exist.
include(GNUInstallDirs)

install(FILES "${CMAKE_CURRENT_LIST_DIR}/aux-nvram.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${PROJECT_SOURCE_DIR}/resources/VYK NVRAM icon image.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps"
    RENAME aux-nvram.png)

# The programs link only system libraries, so they need no search path of
# their own once installed (the default one from qt_standard_project_setup
# points at a lib/ directory that is never installed).
set_target_properties(aux-nvram aux-board-sim PROPERTIES INSTALL_RPATH "")

set(CPACK_PACKAGE_NAME "aux-nvram")
# The same version text as the window title, not the CMake project version.
set(CPACK_PACKAGE_VERSION "01.00.2")
set(CPACK_PACKAGE_VENDOR "Kalvo")
set(CPACK_PACKAGE_CONTACT "AUX NVRAM maintainers <aux-nvram@localhost>"
    CACHE STRING "Maintainer written into the package")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the NVRAM of the AUX PCB")
set(CPACK_PACKAGE_DESCRIPTION
"AUX NVRAM reads the parameter memory (NVRAM) of an AUX PCB over a serial
line into a text file (.nvr) and writes such a file back into the board.
Dumps are kept in /opt/VYK_PLUS/NVRAM/AUXPCB/, which members of the dialout
group may write. The package also ships aux-board-sim, a simulated board on a
pseudo-terminal for trying the tool without hardware.")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Library dependencies come from dpkg-shlibdeps. The xcb platform plugin and
# the ico image plugin that the window needs ship in libqt6gui6, which the
# libraries already pull in, so nothing is listed by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/debian/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

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
set_target_properties(aux-nvram aux-board-sim aux-nvram-compare PROPERTIES INSTALL_RPATH "")

set(CPACK_PACKAGE_NAME "aux-nvram")
# The same version text as the window title, not the CMake project version.
set(CPACK_PACKAGE_VERSION "01.00.2")
set(CPACK_PACKAGE_VENDOR "Kalvo")
# The person or list that answers for the package: it becomes the Maintainer
# field and signs the changelog entry. The default names no one reachable on
# purpose, and lintian rejects it; set a real address with
# -DCPACK_PACKAGE_CONTACT="Name <address>" when building a package to hand out.
set(CPACK_PACKAGE_CONTACT "AUX NVRAM maintainers <aux-nvram@localhost>"
    CACHE STRING "Maintainer written into the package and its changelog")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the NVRAM of the AUX PCB")
set(CPACK_PACKAGE_DESCRIPTION
"AUX NVRAM reads the parameter memory (NVRAM) of an AUX PCB over a serial
line into a text file (.nvr) and writes such a file back into the board.
Dumps are kept in /opt/VYK_PLUS/NVRAM/AUXPCB/, which members of the dialout
group may write. The package also ships aux-nvram-compare, which tells whether
a board holds what a file writes into it, and aux-board-sim, a simulated board
on a pseudo-terminal for trying the tool without hardware.")
set(CPACK_STRIP_FILES ON)

# Manual pages, changelog and copyright file. Each has one source in
# packaging/; the manual pages and the changelog are installed compressed
# with gzip -9n (best compression, no name or time stamp, so the same sources
# give the same bytes).
find_program(AUX_NVRAM_GZIP gzip REQUIRED)
set(aux_nvram_doc_dir "${CMAKE_CURRENT_BINARY_DIR}/packaging")
file(MAKE_DIRECTORY "${aux_nvram_doc_dir}/man")
# The changelog's sign-off names the maintainer set above.
configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/changelog"
    "${aux_nvram_doc_dir}/changelog.signed" @ONLY)
set(aux_nvram_compressed_docs)
foreach(doc IN ITEMS
        "man/aux-nvram.1|${CMAKE_CURRENT_LIST_DIR}/man/aux-nvram.1"
        "man/aux-board-sim.1|${CMAKE_CURRENT_LIST_DIR}/man/aux-board-sim.1"
        "man/aux-nvram-compare.1|${CMAKE_CURRENT_LIST_DIR}/man/aux-nvram-compare.1"
        "changelog|${aux_nvram_doc_dir}/changelog.signed")
    string(REPLACE "|" ";" doc "${doc}")
    list(GET doc 0 name)
    list(GET doc 1 source)
    set(plain "${aux_nvram_doc_dir}/${name}")
    add_custom_command(OUTPUT "${plain}.gz"
        COMMAND "${CMAKE_COMMAND}" -E copy "${source}" "${plain}"
        COMMAND "${AUX_NVRAM_GZIP}" -9nf "${plain}"
        DEPENDS "${source}"
        COMMENT "Compressing ${name}"
        VERBATIM)
    list(APPEND aux_nvram_compressed_docs "${plain}.gz")
endforeach()
add_custom_target(aux-nvram-docs ALL DEPENDS ${aux_nvram_compressed_docs})

install(FILES "${aux_nvram_doc_dir}/man/aux-nvram.1.gz" "${aux_nvram_doc_dir}/man/aux-board-sim.1.gz"
        "${aux_nvram_doc_dir}/man/aux-nvram-compare.1.gz"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${aux_nvram_doc_dir}/changelog.gz" "${CMAKE_CURRENT_LIST_DIR}/debian/copyright"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME}")
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

# Included by the top-level CMakeLists.txt. The programs' own install rules
# are next to them (app/, sim/).

# Installed besides the programs: their manual pages, the README and the
# guides of docs/, an example.
add_subdirectory(${PROJECT_SOURCE_DIR}/man)
set(VANTOIR_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantoir)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VANTOIR_DOC_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${VANTOIR_DOC_DIR}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/examples/demo.hex DESTINATION ${VANTOIR_DOC_DIR}/examples)

# Packages (scripts/package): a Debian package of what is installed.
set(CPACK_PACKAGE_NAME vantoir)
set(CPACK_PACKAGE_VENDOR "The Vantoir maintainers")
set(CPACK_PACKAGE_CONTACT "The Vantoir maintainers <vantoir@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Download utility for the KELVOR DSP board, with a simulated board")
set(CPACK_PACKAGE_DESCRIPTION
    "vantoir programs the KELVOR DSP board through a serial port: download of an Intel-HEX file, console mode, raw copy. kelvor-sim simulates the board's boot loader on a pseudo-terminal.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY vantoir)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)

# The Windows download: a zip of the command line's .exe (static: no DLL
# beside it), the user guide and the licence, all in one folder,
#   velmora-isp2-cli-<version>-windows-x86_64.zip
# Made by `cpack -G ZIP` in the Windows build folder (scripts/windows-test.sh).

# Programs at the top of the folder, not in bin/.
set(CMAKE_INSTALL_BINDIR . CACHE PATH "Where programs go in the Windows zip")
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME velmora-isp2-cli)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_FILE_NAME velmora-isp2-cli-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The Windows downloads, made in the Windows build folder
# (scripts/windows-test.sh makes and checks both):
#   velmora-isp2-<version>-windows-x86_64.zip   cpack -G ZIP: the window's
#       and the command line's programs (static: no DLL beside them), a
#       quick start and the licence as Windows text, and the user guide;
#   velmora-isp2-<version>-setup.exe           the target windows_installer
#       (NSIS): the same files in Program Files, Start-menu shortcuts and an
#       uninstaller.

# Programs at the top of the folder, not in bin/.
set(CMAKE_INSTALL_BINDIR . CACHE PATH "Where programs go in the Windows zip")

# Text files with Windows line ends, for Notepad and its users.
set(isp_windows_texts ${CMAKE_BINARY_DIR}/windows-texts)
function(isp_windows_text source name)
  file(READ ${source} text)
  string(CONFIGURE "${text}" text @ONLY)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${isp_windows_texts}/${name} "${text}")
endfunction()
isp_windows_text(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt)
isp_windows_text(${PROJECT_SOURCE_DIR}/cmake/windows/QUICKSTART.txt QUICKSTART.txt)
install(FILES ${isp_windows_texts}/LICENSE.txt ${isp_windows_texts}/QUICKSTART.txt ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME velmora-isp2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_FILE_NAME velmora-isp2-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The setup program: stripped programs and the texts staged in one folder,
# then makensis.
find_program(ISP_MAKENSIS makensis)
if(ISP_MAKENSIS)
  set(ISP_INSTALLER_STAGE ${CMAKE_BINARY_DIR}/installer-stage)
  set(ISP_INSTALLER_FILE ${CMAKE_BINARY_DIR}/velmora-isp2-${PROJECT_VERSION}-setup.exe)
  set(ISP_ICONS ${PROJECT_SOURCE_DIR}/app/icons)
  set(ISP_VERSION_QUAD ${PROJECT_VERSION}.0)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/installer.nsi.in ${CMAKE_BINARY_DIR}/installer.nsi @ONLY)
  add_custom_command(OUTPUT ${ISP_INSTALLER_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ISP_INSTALLER_STAGE}
    COMMAND ${CMAKE_STRIP} -o ${ISP_INSTALLER_STAGE}/velmora-isp2.exe $<TARGET_FILE:velmora-isp2>
    COMMAND ${CMAKE_STRIP} -o ${ISP_INSTALLER_STAGE}/velmora-isp2-cli.exe $<TARGET_FILE:velmora-isp2-cli>
    COMMAND ${CMAKE_COMMAND} -E copy ${isp_windows_texts}/LICENSE.txt ${isp_windows_texts}/QUICKSTART.txt
      ${PROJECT_SOURCE_DIR}/README.md ${ISP_INSTALLER_STAGE}
    COMMAND ${ISP_MAKENSIS} -V2 ${CMAKE_BINARY_DIR}/installer.nsi
    DEPENDS velmora-isp2 velmora-isp2-cli ${CMAKE_BINARY_DIR}/installer.nsi
      ${PROJECT_SOURCE_DIR}/cmake/windows/QUICKSTART.txt ${PROJECT_SOURCE_DIR}/LICENSE
    COMMENT "Making the setup program (NSIS)")
  add_custom_target(windows_installer DEPENDS ${ISP_INSTALLER_FILE})
endif()

# The Debian package: `cpack -G DEB` in a build folder writes
# velmora-isp2_<version>_<arch>.deb from the install rules (app/CMakeLists.txt).
# Its Depends come from dpkg-shlibdeps, which maps every shared library the
# program links to the Debian package that ships it (libqt6widgets6,
# libudev1, libstdc++6, libc6, ...), with the versions the build saw.
# Build the package in a plain build: one of a sanitizer build would depend on
# the sanitizer runtimes.

set(ISP_PACKAGE_MAINTAINER "Velmora ISP developers <dev@velmora-isp.invalid>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora-isp2)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmora")
set(CPACK_PACKAGE_CONTACT "${ISP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "firmware writer for microcontrollers with a serial boot loader")
# The extended description, in lines short enough for the control file;
# CPack indents them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Velmora ISP2 writes a 28672-byte firmware image into a microcontroller"
    "through the device's serial boot loader. The boot loader asks for"
    "128-byte pages with four-character requests at 38400 baud; page headers"
    "and page data are told apart by space and mark parity. Pick the serial"
    "port, open it and load the image; the progress bar follows the pages sent."
    "The command line, velmora-isp2-cli, does the same from a shell or a"
    "script: Intel HEX and S-record images, JSON output, board after board.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ISP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# The licence and the history, as Debian wants them in the package's
# documentation folder: a machine-readable copyright file, and the changelog
# in Debian's format, compressed (a package whose version has no Debian
# revision is native: its one changelog is changelog.gz). The changelog's
# first entry names the version being packaged (tests/package/check_deb.sh).
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/InstallGzipped.cmake)
set(isp_package_doc ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION ${isp_package_doc})
isp_install_gzipped(${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${isp_package_doc})
set(CPACK_DEBIAN_PACKAGE_LICENSE "GPL-3.0-or-later")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

include(CPack)

# SPDX-License-Identifier: MIT
# The Debian package: cpack -G DEB in a build configured with the "package" preset (prefix /usr,
# so that the data folder compiled into the programs is where the package puts the catalogue).

set(CPACK_PACKAGE_NAME korvalin-loader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvalin Loader developers")
set(CPACK_PACKAGE_CONTACT "Korvalin Loader developers <korvalin-loader@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "program, read, verify and erase PIC mid-range microcontrollers")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvalin Loader drives the Korvalin USB programmer for PIC mid-range\n\
microcontrollers (14-bit program words, ICSP): pick the chip from the device\n\
catalogue, open an Intel HEX file, and program, read, verify or erase it.\n\
The package holds the window (KorvalinLoader), the command-line tool\n\
(korvalin-cli) with its man page and bash completion, the device catalogue\n\
and example programs. Both have a built-in simulated programmer.\n\
.\n\
The programmer's udev rule depends on its USB ID: korvalin-cli udev-rule\n\
prints it.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from dpkg-shlibdeps; the window's Japanese texts want a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

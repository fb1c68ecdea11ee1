# SPDX-License-Identifier: MIT
# Installation of the shared data: the device catalogue and examples, the udev rule installer, the
# desktop entry, the AppStream metainfo, the icon, the man page, the bash completion and the
# documentation. Included at the end of the top-level CMakeLists.txt, when every target exists.
# The executables install themselves (app/ and cli/).

set(_korvalin_share ${CMAKE_INSTALL_DATADIR}/korvalin-loader)

install(FILES ${KORVALIN_CATALOGUE_SOURCE} DESTINATION ${_korvalin_share})
if(IS_DIRECTORY ${KORVALIN_DATA_DIR}/examples)
  install(DIRECTORY ${KORVALIN_DATA_DIR}/examples/ DESTINATION ${_korvalin_share}/examples)
endif()

# The desktop entry carries the application's ID, which the window also reports as its desktop
# file name, so that docks and Wayland compositors match the running window to its launcher.
install(FILES ${KORVALIN_DATA_DIR}/org.tessmark.KorvalinLoader.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KORVALIN_DATA_DIR}/org.tessmark.KorvalinLoader.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# No udev rule is shipped: the programmer's USB ID is the user's to find (korvalin-cli usb-list),
# and a rule for other IDs would only mislead. This installs the rule korvalin-cli writes.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/install-udev-rule DESTINATION ${_korvalin_share})

# bash-completion loads a command's completion on first use from this folder, by command name.
install(FILES ${KORVALIN_DATA_DIR}/korvalin-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME korvalin-cli)

# The documentation under the package's name rather than GNUInstallDirs' default, which would
# take the CMake project's name.
set(KORVALIN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/korvalin-loader)
# Debian wants the licence as the copyright file and a compressed changelog in the same folder
# (changelog.gz: the package has no separate Debian revision); -n keeps gzip's time stamp out
# so that two builds give the same bytes.
set(_korvalin_changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${_korvalin_changelog}
                   COMMAND gzip -9nc ${KORVALIN_DATA_DIR}/debian/changelog > ${_korvalin_changelog}
                   DEPENDS ${KORVALIN_DATA_DIR}/debian/changelog VERBATIM)
add_custom_target(korvalin_changelog ALL DEPENDS ${_korvalin_changelog})
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${KORVALIN_DATA_DIR}/debian/copyright ${_korvalin_changelog}
        DESTINATION ${KORVALIN_DOC_DIR})

# The man page is korvalin-cli's own --help, so it follows every command and option the tool
# gains without a second copy to keep in step.
find_program(KORVALIN_HELP2MAN help2man)
if(TARGET korvalin-cli AND KORVALIN_HELP2MAN)
  set(_korvalin_man ${CMAKE_BINARY_DIR}/korvalin-cli.1.gz)
  add_custom_command(
    OUTPUT ${_korvalin_man}
    # The version given here: --version also names the catalogue this build tree finds.
    COMMAND ${KORVALIN_HELP2MAN} --no-info --section=1 --source=korvalin-loader
            --version-string=${PROJECT_VERSION}
            "--name=program, read, verify and erase PIC mid-range microcontrollers"
            --include=${KORVALIN_DATA_DIR}/korvalin-cli.h2m
            --output=${CMAKE_BINARY_DIR}/korvalin-cli.1 $<TARGET_FILE:korvalin-cli>
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/korvalin-cli.1
    DEPENDS korvalin-cli ${KORVALIN_DATA_DIR}/korvalin-cli.h2m VERBATIM)
  add_custom_target(korvalin_man ALL DEPENDS ${_korvalin_man})
  install(FILES ${_korvalin_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(TARGET korvalin-cli)
  message(STATUS "help2man not found: korvalin-cli's man page is not built")
endif()

# The icon under the name the desktop entry uses, in every size the window's resources have.
set(_korvalin_icons ${CMAKE_SOURCE_DIR}/resources/icons)
file(GLOB _korvalin_pngs ${_korvalin_icons}/korvalin-*.png)
foreach(_png ${_korvalin_pngs})
  get_filename_component(_name ${_png} NAME_WE)
  string(REGEX MATCH "[0-9]+$" _size "${_name}")
  if(_size)
    install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME korvalin-loader.png)
  endif()
endforeach()
foreach(_svg ${_korvalin_icons}/korvalin.svg ${CMAKE_SOURCE_DIR}/resources/icon.svg)
  if(EXISTS ${_svg})
    install(FILES ${_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
            RENAME korvalin-loader.svg)
    break()
  endif()
endforeach()

if(TARGET KorvalinLoader)
  # The window's page is short and written by hand: it has no --help to be made from.
  configure_file(${KORVALIN_DATA_DIR}/KorvalinLoader.1 ${CMAKE_BINARY_DIR}/KorvalinLoader.1 @ONLY)
  set(_korvalin_window_man ${CMAKE_BINARY_DIR}/KorvalinLoader.1.gz)
  add_custom_command(OUTPUT ${_korvalin_window_man}
                     COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/KorvalinLoader.1 > ${_korvalin_window_man}
                     DEPENDS ${CMAKE_BINARY_DIR}/KorvalinLoader.1 VERBATIM)
  add_custom_target(korvalin_window_man ALL DEPENDS ${_korvalin_window_man})
  install(FILES ${_korvalin_window_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

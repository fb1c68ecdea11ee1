# Installation of the shared data: the device catalogue and examples, the udev rule installer, the desktop
# entry and the icon. Included at the end of the top-level CMakeLists.txt, when every target
# exists. The executables install themselves (app/ and cli/).

set(_korvalin_share ${CMAKE_INSTALL_DATADIR}/korvalin-loader)

install(FILES ${KORVALIN_CATALOGUE_SOURCE} DESTINATION ${_korvalin_share})
if(IS_DIRECTORY ${KORVALIN_DATA_DIR}/examples)
  install(DIRECTORY ${KORVALIN_DATA_DIR}/examples/ DESTINATION ${_korvalin_share}/examples)
endif()

# No udev rule is shipped: the programmer's USB ID is the user's to find (korvalin-cli usb-list),
# and a rule for other IDs would only mislead. This installs the rule korvalin-cli writes.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/install-udev-rule DESTINATION ${_korvalin_share})

install(FILES ${KORVALIN_DATA_DIR}/korvalin-loader.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

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

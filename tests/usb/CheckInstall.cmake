# SPDX-License-Identifier: MIT
# Installs the build tree into a scratch prefix and checks that everything a desktop and a
# udev setup need has landed where it belongs. Run by ctest:
#   cmake -DBUILD_DIR=... -DPREFIX=... -DSOURCE_DIR=... -DEXECUTABLES="a;b" -P CheckInstall.cmake

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

set(failures "")
function(expect_file path)
  if(NOT EXISTS ${PREFIX}/${path})
    set(failures "${failures}\n  missing ${path}" PARENT_SCOPE)
  endif()
endfunction()

expect_file(share/korvalin-loader/PicDeviceList.txt)
expect_file(share/applications/org.tessmark.KorvalinLoader.desktop)
expect_file(share/metainfo/org.tessmark.KorvalinLoader.metainfo.xml)
expect_file(share/bash-completion/completions/korvalin-cli)
expect_file(share/man/man1/korvalin-cli.1.gz)
expect_file(share/man/man1/KorvalinLoader.1.gz)
expect_file(share/doc/korvalin-loader/README.md)
expect_file(share/doc/korvalin-loader/copyright)
expect_file(share/korvalin-loader/install-udev-rule)
foreach(exe ${EXECUTABLES})
  expect_file(bin/${exe})
  if(EXISTS ${PREFIX}/bin/${exe} AND NOT IS_DIRECTORY ${PREFIX}/bin/${exe})
    file(READ ${PREFIX}/bin/${exe} magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "7f454c46")
      set(failures "${failures}\n  bin/${exe} is not an executable")
    endif()
  endif()
endforeach()
file(GLOB pngs ${SOURCE_DIR}/resources/icons/korvalin-*.png)
foreach(png ${pngs})
  get_filename_component(name ${png} NAME_WE)
  string(REGEX MATCH "[0-9]+$" size "${name}")
  expect_file(share/icons/hicolor/${size}x${size}/apps/korvalin-loader.png)
endforeach()
if(EXISTS ${SOURCE_DIR}/resources/icons/korvalin.svg)
  expect_file(share/icons/hicolor/scalable/apps/korvalin-loader.svg)
endif()

# The installed catalogue is the shipped one, byte for byte.
if(EXISTS ${PREFIX}/share/korvalin-loader/PicDeviceList.txt)
  file(SHA256 ${SOURCE_DIR}/data/PicDeviceList.txt shipped)
  file(SHA256 ${PREFIX}/share/korvalin-loader/PicDeviceList.txt installed)
  if(NOT shipped STREQUAL installed)
    set(failures "${failures}\n  the installed catalogue differs from data/PicDeviceList.txt")
  endif()
endif()

# The desktop entry starts the window under its own icon and matches the window it starts.
if(EXISTS ${PREFIX}/share/applications/org.tessmark.KorvalinLoader.desktop)
  file(STRINGS ${PREFIX}/share/applications/org.tessmark.KorvalinLoader.desktop entry)
  foreach(line "Exec=KorvalinLoader %f" "Name=Korvalin Loader" "Icon=korvalin-loader"
               "Categories=Development;Electronics;" "Type=Application"
               "StartupWMClass=KorvalinLoader")
    list(FIND entry "${line}" at)
    if(at LESS 0)
      set(failures "${failures}\n  the desktop entry lacks \"${line}\"")
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE ${PREFIX})
if(failures)
  message(FATAL_ERROR "installation incomplete:${failures}")
endif()
message(STATUS "installation complete")

# SPDX-License-Identifier: MIT
# Fails when a label of any form has no English: lupdate brings a scratch copy of the .ts up to
# date with the forms, so a label added without running update_translations shows up as well.
file(GLOB forms ${FORMS_DIR}/*.ui)
file(COPY_FILE ${TS} ${SCRATCH})
execute_process(COMMAND ${LUPDATE} -silent -no-obsolete -locations none ${forms} -ts ${SCRATCH}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${status})")
endif()
file(READ ${SCRATCH} content)
string(REGEX MATCHALL "<source>[^<]*</source>[ \r\n]*<translation( type=\"[a-z]+\")?(/>|></translation>)"
       missing "${content}")
string(REGEX MATCHALL "<source>[^<]*</source>[ \r\n]*<translation type=\"unfinished\">[^<]*</translation>"
       unfinished "${content}")
list(APPEND missing ${unfinished})
list(REMOVE_DUPLICATES missing)
list(LENGTH missing count)
if(count GREATER 0)
  string(REPLACE ";" "\n" shown "${missing}")
  message(FATAL_ERROR "${count} form text(s) without English in ${TS}:\n${shown}")
endif()
message(STATUS "every form text has its English")

# Texts written into the code instead of the table would have no English: outside the table no
# string literal of the front ends or the core may hold anything but ASCII.
execute_process(COMMAND grep -rnP --include=*.cpp --include=*.h
                        [=[^(?!\s*//).*"[^"]*[^\x00-\x7F][^"]*"]=]
                        app dialogs cli settings operations programmer sim device
                WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE literals)
string(REGEX REPLACE "(^|\n)operations/Texts.cpp:[^\n]*" "" literals "${literals}")
string(STRIP "${literals}" literals)
if(NOT literals STREQUAL "")
  message(FATAL_ERROR "texts outside operations/Texts.cpp, without English:\n${literals}")
endif()
message(STATUS "every code text is in the table")

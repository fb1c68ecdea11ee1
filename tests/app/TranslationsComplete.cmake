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

# Checks the library's C interface with the C compiler itself: each public
# header alone, then a C99 program over corvan32.h linked against the
# library and run. Called by ctest with -D:
#   CC, CFLAGS (list), LDFLAGS (list), INCLUDES (list), HEADERS (list),
#   PROGRAM (the C source), LIBRARY (libcorvan32.so), WORK (a scratch folder)
# Lists come joined with "|".
foreach(var CFLAGS LDFLAGS INCLUDES HEADERS)
  string(REPLACE "|" ";" ${var} "${${var}}")
endforeach()
set(strict -std=c99 -Wall -Wextra -Werror -pedantic)
set(include_flags)
foreach(dir ${INCLUDES})
  list(APPEND include_flags -I${dir})
endforeach()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/home)

set(failed)
foreach(header ${HEADERS})
  file(WRITE ${WORK}/alone.c "#include <corvan/${header}>\ntypedef int header_check;\n")
  execute_process(COMMAND ${CC} ${strict} ${include_flags} -fsyntax-only ${WORK}/alone.c
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message("corvan/${header} does not compile as C on its own:\n${err}")
    list(APPEND failed ${header})
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "headers that are not plain C: ${failed}")
endif()

get_filename_component(libdir ${LIBRARY} DIRECTORY)
execute_process(COMMAND ${CC} ${strict} ${CFLAGS} ${include_flags} ${PROGRAM} -o ${WORK}/c_client
                        ${LDFLAGS} ${LIBRARY} -Wl,-rpath,${libdir}
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the C program over corvan32.h does not build:\n${err}")
endif()
set(ENV{ZIMO_HOME} ${WORK}/home)
execute_process(COMMAND ${WORK}/c_client RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the C program failed (${rc}):\n${out}${err}")
endif()

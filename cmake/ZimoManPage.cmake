# Writes a program's manual page from its --help (run in script mode):
#
#   cmake -DPROGRAM=path -DNAME=zimo-term -DSUMMARY="..." -DVERSION=1.0.0
#         -DOUTPUT=zimo-term.1.gz -P ZimoManPage.cmake
#
# The page holds the NAME line and the help text as it stands (no filling),
# compressed as Debian's manual pages are.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE result
                INPUT_FILE /dev/null)
if(NOT result EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${NAME} --help failed (${result})")
endif()
# troff: a backslash is written \e, a line must not start with . or '.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(TOUPPER "${NAME}" title)
string(REPLACE "-" "\\-" name_text "${NAME}")
# CONCAT, not a list: the help's own semicolons stay in the text.
string(CONCAT page ".TH ${title} 1 \"\" \"zimo ${VERSION}\" \"User Commands\"\n"
       ".SH NAME\n${name_text} \\- ${SUMMARY}\n"
       ".SH DESCRIPTION\n.nf\n${help}.fi\n")
get_filename_component(plain "${OUTPUT}" NAME_WLE)
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(WRITE "${folder}/${plain}" "${page}")
file(REMOVE "${OUTPUT}")
execute_process(COMMAND gzip -9n "${folder}/${plain}" RESULT_VARIABLE zipped)
if(NOT zipped EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${OUTPUT}")
endif()

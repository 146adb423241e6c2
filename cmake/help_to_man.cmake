# Writes a man page from a program's --help text, kept as the program lays
# it out. Run as a script:
#   cmake -DPROGRAM=path -DNAME=morvane -DSUMMARY="..." -DVERSION=0.1.0
#         -DSEE_ALSO="plcsim(1)" -DOUTPUT=morvane.1 -P help_to_man.cmake
execute_process(COMMAND "${PROGRAM}" --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help gave no text (${result})")
endif()
# roff: a backslash is written \e, a hyphen \- (so options copy as ASCII), and
# a line that begins with a dot or an apostrophe would be a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" title)
file(WRITE "${OUTPUT}"
  ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n"
  ".SH NAME\n${NAME} \\- ${SUMMARY}\n"
  ".SH DESCRIPTION\n.nf\n${help}.fi\n"
  ".SH SEE ALSO\n${SEE_ALSO}\n")

# Writes a section-1 manual page from a program's own --help, so the page says exactly the options
# the program accepts. Run as
#   cmake -DPROGRAM=path -DNAME=tollan -DSUMMARY="..." -DVERSION=0.1.0 [-DEXTRA=file.man]
#         [-DSEE_ALSO=name;name] -DOUT=tollan.1.gz -P manpage.cmake
# EXTRA holds further sections in roff (FILES, ENVIRONMENT, ...), appended as they are; SEE ALSO
# names the other pages.
foreach(v PROGRAM NAME SUMMARY VERSION OUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "manpage.cmake: ${v} is not set")
  endif()
endforeach()

execute_process(COMMAND "${PROGRAM}" --help
  OUTPUT_VARIABLE help ERROR_VARIABLE err RESULT_VARIABLE status
  ENCODING UTF-8)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "manpage.cmake: ${PROGRAM} --help failed (${status}): ${err}")
endif()

# The usage line names the program as it was started; the page names it as it is installed.
string(REPLACE "${PROGRAM}" "${NAME}" help "${help}")

# roff: a backslash is written \e, a hyphen \- (so it prints and searches as "-"), and a line
# starting with a dot or an apostrophe would be a request, so it gets the zero-width \&.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REGEX REPLACE "\n+$" "" help "${help}")
string(TOUPPER "${NAME}" title)
string(REPLACE "-" "\\-" name "${NAME}")

set(page ".TH ${title} 1 \"\" \"Tollan ${VERSION}\" \"Tollan terminal\"\n")
string(APPEND page ".SH NAME\n${name} \\- ${SUMMARY}\n")
string(APPEND page ".SH DESCRIPTION\nThe text of\n.B ${name} \\-\\-help\n(every option the program accepts):\n")
string(APPEND page ".PP\n.nf\n${help}\n.fi\n")
if(DEFINED EXTRA AND NOT EXTRA STREQUAL "")
  file(READ "${EXTRA}" extra)
  # A line `.\" @SETTINGS@` stands for the program's own table of its settings (a SETTINGS
  # section), printed by `PROGRAM config describe --roff`: the page says what the program checks.
  if(extra MATCHES "\\.\\\\\" @SETTINGS@\n")
    execute_process(COMMAND "${PROGRAM}" config describe --roff
      OUTPUT_VARIABLE settings ERROR_VARIABLE err RESULT_VARIABLE status ENCODING UTF-8)
    if(NOT status EQUAL 0 OR settings STREQUAL "")
      message(FATAL_ERROR "manpage.cmake: ${PROGRAM} config describe --roff failed (${status}): ${err}")
    endif()
    string(REPLACE ".\\\" @SETTINGS@\n" "${settings}" extra "${extra}")
  endif()
  string(APPEND page "${extra}")
endif()
list(REMOVE_ITEM SEE_ALSO "${NAME}")
if(SEE_ALSO)
  string(APPEND page ".SH SEE ALSO\n")
  list(JOIN SEE_ALSO " (1),\n.BR " refs)
  string(REPLACE "-" "\\-" refs "${refs}")
  string(APPEND page ".BR ${refs} (1)\n")
endif()

get_filename_component(dir "${OUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
file(WRITE "${plain}" "${page}")
if(OUT MATCHES "\\.gz$")
  # -n leaves the name and time out of the header, so the same page compresses to the same bytes.
  execute_process(COMMAND gzip -9nf "${plain}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "manpage.cmake: gzip failed")
  endif()
endif()

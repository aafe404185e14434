# Installs the build into STAGE (as DESTDIR) and checks what a package would hold.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install "${BUILD}"
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

set(programs tollan tollan-cardcentre tollan-register tollan-modem)
set(expected "${LIBDIR}/${LIBRARY}" "${INCLUDEDIR}/scheduler/timora.h" "${UNIT}"
             "${DATADIR}/applications/tollan.desktop" "${DATADIR}/icons/hicolor/scalable/apps/tollan.svg")
if(PLUGIN)
  list(APPEND expected "${PLUGIN}")
endif()
foreach(p IN LISTS programs)
  list(APPEND expected "${BINDIR}/${p}" "${MANDIR}/man1/${p}.1.gz")
endforeach()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${STAGE}${f}")
    message(SEND_ERROR "not installed: ${f}")
  endif()
endforeach()

# The installed programs run, with libtimora from the installation and not from the build.
foreach(p IN LISTS programs)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH "${STAGE}${BINDIR}/${p}" --help
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "--help")
    message(SEND_ERROR "installed ${p} --help: status ${status}, ${err}")
  endif()
endforeach()
execute_process(COMMAND ldd "${STAGE}${BINDIR}/tollan" OUTPUT_VARIABLE linked)
string(REGEX MATCH "${LIBRARY} => [^ ]*" found "${linked}")
if(NOT found MATCHES "^${LIBRARY} => ${STAGE}")
  message(SEND_ERROR "installed tollan does not find the installed ${LIBRARY}: ${found}")
endif()

# The service starts the installed terminal headless, as the service, in its own home folder.
file(STRINGS "${STAGE}${UNIT}" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${BINDIR}/tollan --headless --service --home /var/lib/tollan")
  message(SEND_ERROR "tollan.service: ${exec}")
endif()
# It runs with least privilege: systemd's own rating of the unit, 3.0 or lower.
find_program(ANALYZE systemd-analyze)
if(ANALYZE)
  execute_process(COMMAND ${ANALYZE} security --offline=true "${STAGE}${UNIT}"
    OUTPUT_VARIABLE rating ERROR_VARIABLE rating)
  string(REGEX MATCH "exposure level for tollan.service: ([0-9.]+)" found "${rating}")
  if(NOT found OR CMAKE_MATCH_1 GREATER 3.0)
    message(SEND_ERROR "tollan.service exposure: ${found}\n${rating}")
  endif()
else()
  message(STATUS "systemd-analyze is not here: the unit's exposure is not rated")
endif()

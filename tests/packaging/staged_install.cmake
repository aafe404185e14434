# Installs the build into STAGE (as DESTDIR) and checks what the packages would hold.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE} ${CMAKE_COMMAND} --install "${BUILD}"
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

set(programs tollan tollan-cardcentre tollan-register tollan-modem)
set(expected "${LIBDIR}/${LIBRARY}" "${UNIT}"
             "${INCLUDEDIR}/timora/timora.h" "${INCLUDEDIR}/timora/timora_clock.h"
             "${INCLUDEDIR}/timora/timora_export.h" "${INCLUDEDIR}/timora/pagtimora.h"
             "${LIBDIR}/cmake/Timora/TimoraConfig.cmake" "${LIBDIR}/cmake/Timora/TimoraConfigVersion.cmake"
             "${LIBDIR}/cmake/Timora/TimoraTargets.cmake" "${LIBDIR}/pkgconfig/timora.pc"
             "${DATADIR}/doc/tollan/README.md" "${DATADIR}/doc/libtimora-dev/README.md"
             "${DATADIR}/applications/tollan.desktop" "${DATADIR}/icons/hicolor/scalable/apps/tollan.svg")
foreach(package tollan tollan-peers libtimora0 libtimora-dev)
  list(APPEND expected "${DATADIR}/doc/${package}/copyright" "${DATADIR}/doc/${package}/changelog.gz")
endforeach()
if(PLUGIN)
  list(APPEND expected "${PLUGIN}" "${DATADIR}/doc/timora-designer-plugin/copyright")
endif()
foreach(p IN LISTS programs)
  list(APPEND expected "${BINDIR}/${p}" "${MANDIR}/man1/${p}.1.gz")
endforeach()
foreach(f IN LISTS expected)
  if(NOT EXISTS "${STAGE}${f}")
    message(SEND_ERROR "not installed: ${f}")
  endif()
endforeach()
# The old header folder is gone: a host includes "timora/timora.h".
if(EXISTS "${STAGE}${INCLUDEDIR}/scheduler")
  message(SEND_ERROR "headers still installed under ${INCLUDEDIR}/scheduler")
endif()

# The installed programs run, with libtimora from the installation and not from the build. Where
# the library folder is one the loader searches anyway (/usr/lib/<arch>), the programs carry no
# run path and the staged folder stands in for it.
set(env --unset=LD_LIBRARY_PATH)
if(LIBDIR_IS_SYSTEM)
  set(env LD_LIBRARY_PATH=${STAGE}${LIBDIR})
endif()
foreach(p IN LISTS programs)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} "${STAGE}${BINDIR}/${p}" --help
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "--help")
    message(SEND_ERROR "installed ${p} --help: status ${status}, ${err}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ldd "${STAGE}${BINDIR}/tollan" OUTPUT_VARIABLE linked)
string(REGEX MATCH "${LIBRARY} => [^ ]*" found "${linked}")
if(NOT found MATCHES "^${LIBRARY} => ${STAGE}")
  message(SEND_ERROR "installed tollan does not find the installed ${LIBRARY}: ${found}")
endif()

# The service starts the installed terminal headless, as the service, in its own home folder; it
# tells systemd when it serves and pings the watchdog; the modem's lock goes to /run/lock.
file(STRINGS "${STAGE}${UNIT}" exec REGEX "^ExecStart=")
if(NOT exec STREQUAL "ExecStart=${BINDIR}/tollan --headless --service --home /var/lib/tollan")
  message(SEND_ERROR "tollan.service: ${exec}")
endif()
file(STRINGS "${STAGE}${UNIT}" lines REGEX "^(Type|WatchdogSec|ReadWritePaths)=")
if(NOT lines STREQUAL "Type=notify;WatchdogSec=30;ReadWritePaths=/run/lock")
  message(SEND_ERROR "tollan.service: ${lines}")
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

# An integrator's program, examples/timora-clock, built against the staged libtimora-dev through
# find_package(Timora), as it would be against the installed package; and the same source through
# timora.pc. Each runs with the staged library and says when its entry next falls due.
set(example "${STAGE}-clock")
file(REMOVE_RECURSE "${example}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}/examples/timora-clock" -B "${example}" -G "${GENERATOR}"
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${STAGE}${PREFIX} -DCMAKE_BUILD_TYPE=Release
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "Timora 0\\.[0-9.]+ from ${STAGE}${LIBDIR}/cmake/Timora")
  message(FATAL_ERROR "examples/timora-clock does not find the staged Timora: ${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${example}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "examples/timora-clock does not build against the staged libtimora-dev: ${out}${err}")
endif()
find_program(PKG_CONFIG pkg-config REQUIRED)
# timora.pc names its folders below its prefix: moved with the staged installation, only the prefix
# changes (Qt's own .pc files keep theirs).
file(READ "${STAGE}${LIBDIR}/pkgconfig/timora.pc" pc)
string(REGEX REPLACE "(^|\n)prefix=[^\n]*" "\\1prefix=${STAGE}${PREFIX}" pc "${pc}")
file(WRITE "${example}/pkgconfig/timora.pc" "${pc}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${example}/pkgconfig
    ${PKG_CONFIG} --cflags --libs timora
  RESULT_VARIABLE status OUTPUT_VARIABLE flags ERROR_VARIABLE err OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT status EQUAL 0 OR NOT flags MATCHES "-I${STAGE}${PREFIX}/include")
  message(FATAL_ERROR "pkg-config timora: ${flags}${err}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND ${CXX} -std=c++20 -fPIC "${SOURCE}/examples/timora-clock/main.cpp" ${flags}
    -o "${example}/timora-clock-pc"
  RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "examples/timora-clock does not build with pkg-config timora: ${err}")
endif()
foreach(program timora-clock timora-clock-pc)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${STAGE}${LIBDIR} QT_QPA_PLATFORM=offscreen
      "${example}/${program}" --ticks 3 "* * * * *" "* 2 30 0 0"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 30)
  if(NOT status EQUAL 0 OR NOT out MATCHES "\\* \\* \\* \\* \\*: next at 2[0-9-]+T" OR NOT out MATCHES "\\* 2 30 0 0: next at 9999-01-01")
    message(SEND_ERROR "${program}: status ${status}, ${out}${err}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${STAGE}${LIBDIR} ldd "${example}/${program}" OUTPUT_VARIABLE linked)
  string(REGEX MATCH "${LIBRARY} => [^ ]*" found "${linked}")
  if(NOT found MATCHES "^${LIBRARY} => ${STAGE}")
    message(SEND_ERROR "${program} does not use the staged ${LIBRARY}: ${found}")
  endif()
endforeach()

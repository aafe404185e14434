# Makes the Debian packages from the build (cpack) into OUT, checks that each holds what it should
# and nothing below /usr/local, and runs lintian on each: an error fails, warnings are printed (the
# README's "The Debian package" says why each is there).
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND cpack -G DEB -B "${OUT}" --config "${BUILD}/CPackConfig.cmake"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${out}${err}")
endif()

# What each package must hold (a path in its file list, without the leading "."), and what it must not.
set(holds_tollan "/usr/bin/tollan" "/usr/lib/systemd/system/tollan.service" "/usr/share/man/man1/tollan.1.gz"
                 "/usr/share/doc/tollan/README.md" "/usr/share/applications/tollan.desktop")
set(holds_libtimora0 "/${LIBRARY}")
set(holds_libtimora-dev "/usr/include/timora/timora.h" "/cmake/Timora/TimoraConfig.cmake" "/pkgconfig/timora.pc"
                        "/libtimora.so ->")
set(holds_tollan-peers "/usr/bin/tollan-cardcentre" "/usr/bin/tollan-register" "/usr/bin/tollan-modem"
                       "/usr/share/man/man1/tollan-modem.1.gz")
set(holds_timora-designer-plugin "/qt6/plugins/designer/libtimora_designer.so")
set(packages tollan libtimora0 libtimora-dev tollan-peers)
if(DESIGNER)
  list(APPEND packages timora-designer-plugin)
endif()
set(debs)
foreach(package IN LISTS packages)
  file(GLOB deb "${OUT}/${package}_*.deb")
  if(NOT deb)
    message(SEND_ERROR "no package ${package}")
    continue()
  endif()
  list(APPEND debs ${deb})
  execute_process(COMMAND dpkg-deb --contents "${deb}" OUTPUT_VARIABLE contents)
  foreach(path IN LISTS holds_${package} ITEMS "/usr/share/doc/${package}/copyright")
    string(FIND "${contents}" "${path}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "${package} does not hold ${path}:\n${contents}")
    endif()
  endforeach()
  if(contents MATCHES "/usr/local/")
    message(SEND_ERROR "${package} installs below /usr/local:\n${contents}")
  endif()
  # Only the library's own package holds the library.
  string(REPLACE "." "\\." library_pattern "/${LIBRARY}")
  if(NOT package STREQUAL "libtimora0" AND contents MATCHES "${library_pattern}")
    message(SEND_ERROR "${package} holds ${LIBRARY}")
  endif()
endforeach()

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(FATAL_ERROR "lintian is not installed (scripts/setup installs it)")
endif()
execute_process(COMMAND ${LINTIAN} --no-tag-display-limit ${debs}
  RESULT_VARIABLE status OUTPUT_VARIABLE report ERROR_VARIABLE err)
message(STATUS "lintian:\n${report}${err}")
string(REGEX MATCHALL "(^|\n)E: [^\n]*" errors "${report}")
if(errors OR status GREATER 1)
  message(FATAL_ERROR "lintian finds errors (status ${status}):${errors}\n${err}")
endif()

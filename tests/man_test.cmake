# Every man page in docs/ names the project's version in its title line, so
# that `man ./docs/PAGE.1` and the installed page show the version that
# `--version` prints, and groff renders it without a single warning; and
# every option a program's --help lists has an entry of its own in its page.
#   cmake -DSOURCE_DIR=... -DVERSION=... [-DGROFF=...]
#     [-DPROGRAMS=name=path;...] -P man_test.cmake
file(GLOB pages ${SOURCE_DIR}/docs/*.1)
if(NOT pages)
  message(FATAL_ERROR "no man page in ${SOURCE_DIR}/docs")
endif()
string(REPLACE "." "\\." version "${VERSION}")
foreach(page IN LISTS pages)
  file(STRINGS ${page} title LIMIT_COUNT 1)
  if(NOT title MATCHES "^\\.TH [^\"]+ \"knotfit ${version}\" ")
    message(FATAL_ERROR "${page}: the title line does not name knotfit ${VERSION}: ${title}")
  endif()
  if(GROFF) # -wall: any warning fails; -z: check only
    execute_process(COMMAND ${GROFF} -z -wall -man ${page}
      RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0 OR NOT out STREQUAL "")
      message(FATAL_ERROR "${page}: groff (${status}):\n${out}")
    endif()
  endif()
endforeach()

# Each program's page has an entry of its own for every option its --help
# lists (a .TP paragraph whose tag line names it, "\-\-name" followed by
# anything but more of a name), and holds whole the lists that come from the
# program's tables (the methods, the rules beyond the knots, the export's
# formats and types, from a message naming them all; the flags, from --help).
set(lists_knotfit "--method=?")
set(lists_knotfit-eval "--extrapolate=?")
set(lists_knotfit-export "--format=?" "--type=?")
foreach(program IN LISTS PROGRAMS)
  string(REGEX REPLACE "=.*" "" name "${program}")
  string(REGEX REPLACE "^[^=]*=" "" path "${program}")
  execute_process(COMMAND ${path} --help RESULT_VARIABLE status OUTPUT_VARIABLE help)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} --help: status ${status}")
  endif()
  file(READ ${SOURCE_DIR}/docs/${name}.1 page)
  string(REGEX MATCHALL "\n +(-[A-Za-z], )?--[a-z-]*" options "\n${help}")
  if(NOT options)
    message(FATAL_ERROR "${name} --help lists no option")
  endif()
  foreach(option IN LISTS options)
    string(REGEX REPLACE ".*--" "" option "${option}")
    string(REPLACE "-" "\\\\-" escaped "${option}")
    if(NOT page MATCHES "\n\\.TP\n[^\n]*\\\\-\\\\-${escaped}[^a-z\\]")
      message(FATAL_ERROR "docs/${name}.1: no entry of its own for --${option}")
    endif()
  endforeach()

  set(items "")
  foreach(probe IN LISTS lists_${name})
    execute_process(COMMAND ${path} ${probe} t ERROR_VARIABLE said OUTPUT_QUIET)
    if(NOT said MATCHES "\\(([^)]*, [^)]*)\\)")
      message(FATAL_ERROR "${name} ${probe}: no list in: ${said}")
    endif()
    string(REPLACE ", " ";" listed "${CMAKE_MATCH_1}")
    list(APPEND items ${listed})
  endforeach()
  if(help MATCHES "\nFlags of a fit[^\n]*\n(( +[^\n]*\n)+)")
    string(REGEX MATCHALL "\n  [a-z0-9-]+" flags "\n${CMAKE_MATCH_1}")
    string(REGEX REPLACE "\n  " "" flags "${flags}")
    list(APPEND items ${flags})
  endif()
  foreach(item IN LISTS items)
    string(REGEX REPLACE "\\[.*" "" item "${item}")
    string(REPLACE "-" "\\\\-" escaped "${item}")
    if(NOT page MATCHES "[^a-z0-9\\\\-]${escaped}[^a-z0-9\\\\-]")
      message(FATAL_ERROR "docs/${name}.1: '${item}' missing")
    endif()
  endforeach()
endforeach()

# Every man page in docs/ names the project's version in its title line, so
# that `man ./docs/PAGE.1` and the installed page show the version that
# `--version` prints, and groff renders it without a single warning.
#   cmake -DSOURCE_DIR=... -DVERSION=... [-DGROFF=...] -P man_test.cmake
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

# Builds the Debian packages of this build tree with cpack (python3-knotfit
# where PYTHON is 1), checks that each holds its own part of the install and a
# changelog of its own version, and runs lintian on all: any error (an "E:"
# line) fails the test.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... [-DPYTHON=1] -P package_test.cmake
find_program(LINTIAN lintian)
find_program(DPKG_DEB dpkg-deb)
if(NOT LINTIAN OR NOT DPKG_DEB)
  message("skipped: lintian or dpkg-deb is not installed")
  return()
endif()
file(REMOVE_RECURSE ${WORK_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)

run(${CMAKE_COMMAND} -E chdir ${BUILD_DIR} cpack -G DEB -B ${WORK_DIR})
# package | a file it holds | what it must not hold (another package's part)
set(rows "knotfit|usr/share/man/man1/knotfit.1.gz|usr/include/"
  "knotfit-dev|usr/include/knotfit.h|usr/bin/")
if(PYTHON)
  list(APPEND rows "python3-knotfit|usr/share/doc/python3-knotfit/read_table.py|usr/bin/")
endif()
file(GLOB debs ${WORK_DIR}/*.deb)
list(LENGTH debs count)
list(LENGTH rows expected)
if(NOT count EQUAL expected)
  message(FATAL_ERROR "expected ${expected} packages, cpack made: ${debs}")
endif()

foreach(row IN LISTS rows)
  string(REPLACE "|" ";" row "${row}")
  list(GET row 0 package)
  list(GET row 1 holds)
  list(GET row 2 lacks)
  file(GLOB deb ${WORK_DIR}/${package}_*.deb)
  run(${DPKG_DEB} --contents ${deb})
  if(NOT out MATCHES " \\./${holds}\n" OR out MATCHES " \\./${lacks}")
    message(FATAL_ERROR "${package} should hold ${holds} and nothing under ${lacks}:\n${out}")
  endif()
  run(${DPKG_DEB} --field ${deb} Version)
  string(STRIP "${out}" version)
  run(${DPKG_DEB} --extract ${deb} ${WORK_DIR}/${package})
  run(gzip -dc ${WORK_DIR}/${package}/usr/share/doc/${package}/changelog.Debian.gz)
  if(NOT out MATCHES "^knotfit \\(${version}\\) ")
    message(FATAL_ERROR "packaging/changelog does not start with version ${version}")
  endif()
endforeach()

execute_process(COMMAND ${LINTIAN} --tag-display-limit 0 ${debs}
  OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(out MATCHES "(^|\n)E: ")
  message(FATAL_ERROR "lintian reports errors")
endif()
file(REMOVE_RECURSE ${WORK_DIR})

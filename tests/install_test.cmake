# Installs the build tree into a scratch prefix, then configures, builds and
# runs a small project that finds the package and fits with the library.
# The consumer is built with the package's compilers and flags (TOOLCHAIN,
# a list of -D options): a library built on libc++ links only with libc++.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DTOOLCHAIN=...] -P install_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

include(${CMAKE_CURRENT_LIST_DIR}/run_step.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
# The library and the CMake package are proven by the consumer below.
foreach(file bin/knotfit bin/knotfit-eval bin/knotfit-export share/man/man1/knotfit.1.gz
    share/man/man1/knotfit-eval.1.gz share/man/man1/knotfit-export.1.gz share/doc/knotfit/copyright
    include/knotfit.h include/knotfit/method.hpp include/knotfit/spline.hpp include/knotfit/request.hpp
    include/knotfit/table.hpp include/knotfit/table.h share/doc/knotfit-dev/copyright)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

run(gzip -dc ${prefix}/share/man/man1/knotfit.1.gz)
if(NOT out MATCHES "^\\.TH [^\n]*\"knotfit [0-9]+\\.[0-9]+\\.[0-9]+\"")
  message(FATAL_ERROR "the man page does not name the version")
endif()

run(${prefix}/bin/knotfit --version)
if(NOT out MATCHES "^knotfit [0-9]+\\.[0-9]+\\.[0-9]+\n")
  message(FATAL_ERROR "unexpected --version output: ${out}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/consumer
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release ${TOOLCHAIN})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)
set(expected "S(2.5) = 15.625000
5 knots, S(2.5) = 15.625000, S'(2.5) = 18.750000
C: 5 knots, S(2.5) = 15.625000
C: table shorter than its knot count needs
error: 2 x values but 1 y values
ties does not go with method='smooth', which merges equal x itself
")
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "consumer printed: ${out}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})

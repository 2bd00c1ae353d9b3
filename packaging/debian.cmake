# The Debian packages that `cpack` builds from the install components:
#   knotfit         (component knotfit): the programs and their man pages;
#   knotfit-dev     (component dev):     the static library, the headers and
#                                        the CMake package;
#   python3-knotfit (component python):  the Python module, where it is built.
# Each carries the licence as /usr/share/doc/<package>/copyright and the
# Debian changelog beside it, as every Debian package must.

# The project has no mail address of its own yet; .invalid says so plainly and
# is still a well-formed host. The changelog's trailer line names it too.
set(KNOTFIT_MAINTAINER "knotfit developers <knotfit@knotfit.invalid>")

# The copyright file in the machine-readable Debian format, made from LICENSE
# so that the two never disagree: the copyright line becomes the Copyright
# field, the permission notice the indented licence text ("." for a blank).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) ...' before its notice")
endif()
set(KNOTFIT_COPYRIGHT "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" notice "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " KNOTFIT_LICENSE_NOTICE "${notice}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)

knotfit_gzip(${CMAKE_CURRENT_LIST_DIR}/changelog changelog.Debian.gz)
set(package_docs ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${package_docs} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/knotfit COMPONENT knotfit)
install(FILES ${package_docs} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/knotfit-dev COMPONENT dev)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME knotfit)
set(CPACK_PACKAGE_CONTACT "${KNOTFIT_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "the knotfit developers")
# Each package's description below starts with its own summary line; an empty
# common summary keeps CPack from putting the project's in front of both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1) # the version in packaging/changelog
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_KNOTFIT_PACKAGE_NAME knotfit)
set(CPACK_DEBIAN_KNOTFIT_PACKAGE_SECTION science)
# dpkg-shlibdeps (package dpkg-dev) derives the versioned run-time
# dependencies from the binaries; without it, name the two libraries.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_KNOTFIT_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_KNOTFIT_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
set(CPACK_DEBIAN_KNOTFIT_DESCRIPTION "not-a-knot cubic spline fits of tabulated data, in batch
knotfit reads any number of data sets of x y points from text files and
fits each with the interpolating cubic spline whose third derivative is also
continuous at the second and the second-to-last knot. For every data set it
writes a compact big-endian binary coefficient table, for other programs to
read, and a text plot file of the fitted curve. knotfit-eval evaluates,
integrates and inverts a table from the shell; knotfit-export writes it as
C source for firmware, as JSON or as CSV; knotfit-merge joins the summaries
of a run split into shards across machines.

Every output byte is reproducible: the same input always gives the same
tables, whatever the build.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME knotfit-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS knotfit)
set(CPACK_DEBIAN_DEV_DESCRIPTION "not-a-knot cubic spline fits of tabulated data - development files
knotfit fits interpolating cubic splines to tabulated x y data and writes
their coefficients as compact binary tables.

This package holds the static library, its C++ headers and the CMake
package: find_package(knotfit) gives the target knotfit::knotfit, to fit
data and to evaluate fitted splines in a program of your own.")

# The module, its type stubs, and docs/read_table.py among the documents: the
# reader that needs nothing but Python, for machines without the module.
if(TARGET knotfit_python)
  install(FILES ${package_docs} ${PROJECT_SOURCE_DIR}/docs/read_table.py
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-knotfit COMPONENT python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-knotfit)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ${CPACK_DEBIAN_KNOTFIT_PACKAGE_SHLIBDEPS})
  set(python "${KNOTFIT_PYTHON_DEPENDS}")
  if(NOT DPKG_SHLIBDEPS)
    string(APPEND python ", ${CPACK_DEBIAN_KNOTFIT_PACKAGE_DEPENDS}")
  endif()
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${python}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-scipy)
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "not-a-knot cubic spline fits of tabulated data - Python 3 module
knotfit fits interpolating cubic splines to tabulated x y data and writes
their coefficients as compact binary tables.

This package holds the Python 3 module knotfit: it fits splines bit for bit
as the knotfit program does, writes and reads the coefficient tables and
evaluates them (values, derivatives, integrals, the inverse lookup) on
numbers and numpy arrays. Its documentation holds read_table.py, a table
reader that needs nothing but Python.")
endif()

include(CPack)

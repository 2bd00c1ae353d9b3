# The README's coefficient table reader is docs/read_table.py, word for word,
# and it decodes a table that knotfit wrote.
#   cmake -DKNOTFIT=... -DPYTHON=... -DSOURCE_DIR=... -DWORK_DIR=... -P docs_test.cmake
file(READ ${SOURCE_DIR}/docs/read_table.py reader)
file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "${reader}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show docs/read_table.py as it is")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/CS/plot)
file(WRITE ${WORK_DIR}/input "0 0\n1 1\n2 8\n3 27\n4 64\nNAME cube\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E env TROV_KEL=${WORK_DIR} ${KNOTFIT} ${WORK_DIR}/input
  OUTPUT_QUIET RESULT_VARIABLE status)
execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/docs/read_table.py ${WORK_DIR}/CS/cube
  OUTPUT_VARIABLE out RESULT_VARIABLE py_status)
set(expected "0 0 1.77636e-15 -2.66454e-15 1
1 1 3 3 1
2 8 12 6 1
3 27 27 9 1
4 64 48 0 0
S(2.5) = 15.625
")
if(NOT status EQUAL 0 OR NOT py_status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "knotfit ${status}, reader ${py_status}, printed:\n${out}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})

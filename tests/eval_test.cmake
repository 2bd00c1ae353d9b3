# One golden case of knotfit-eval, a directory under tests/data/eval: runs the
# program in tests/data with the arguments of CASE/args (one a line) and
# CASE/stdin as standard input, then compares standard output, standard error
# and the exit status with CASE/stdout, CASE/stderr and CASE/status (a missing
# file means empty output, status 0). With CASE/stdout-to, standard output
# goes to the file it names instead.
#   cmake -DEVAL=... -DDATA=... -DCASE=... -P eval_test.cmake
set(dir ${DATA}/eval/${CASE})
file(STRINGS ${dir}/args args)
foreach(part stdout stderr stdout-to)
  set(${part} "")
  if(EXISTS ${dir}/${part})
    file(READ ${dir}/${part} ${part})
  endif()
endforeach()
set(expected_status 0)
if(EXISTS ${dir}/status)
  file(STRINGS ${dir}/status expected_status)
endif()
set(input /dev/null)
if(EXISTS ${dir}/stdin)
  set(input ${dir}/stdin)
endif()
if(stdout-to)
  string(STRIP "${stdout-to}" target)
  set(output OUTPUT_FILE ${target})
else()
  set(output OUTPUT_VARIABLE out)
endif()

execute_process(COMMAND ${EVAL} ${args} WORKING_DIRECTORY ${DATA} TIMEOUT 30
  INPUT_FILE ${input} ${output} ERROR_VARIABLE err RESULT_VARIABLE status)
if(NOT status STREQUAL expected_status OR NOT "${out}" STREQUAL "${stdout}"
   OR NOT err STREQUAL stderr)
  message(FATAL_ERROR "knotfit-eval ${args}: status ${status} (expected "
    "${expected_status})\nstdout:\n${out}\nexpected:\n${stdout}\n"
    "stderr:\n${err}\nexpected:\n${stderr}")
endif()

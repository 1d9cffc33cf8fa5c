# Runs hxhost once and compares what it printed with an expected file.
#   HXHOST         the program
#   ARGS           its arguments, joined with '^'
#   EXPECT_EXIT    the exit status it must end with
#   EXPECTED       file standard output must equal (optional)
#   EXPECT_ERROR   regular expression standard error must match (optional)
string(REPLACE "^" ";" args "${ARGS}")
execute_process(COMMAND "${HXHOST}" ${args}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc TIMEOUT 60)
if(NOT rc STREQUAL EXPECT_EXIT)
  message(FATAL_ERROR "hxhost exited with ${rc}, expected ${EXPECT_EXIT}\nstdout:\n${out}\nstderr:\n${err}")
endif()
if(DEFINED EXPECTED)
  file(READ "${EXPECTED}" want)
  if(NOT out STREQUAL want)
    message(FATAL_ERROR "standard output differs from ${EXPECTED}\n--- got:\n${out}\n--- expected:\n${want}")
  endif()
endif()
if(DEFINED EXPECT_ERROR)
  if(NOT err MATCHES "${EXPECT_ERROR}")
    message(FATAL_ERROR "standard error does not match '${EXPECT_ERROR}':\n${err}")
  endif()
  # Bad input gives exactly one line.
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one error line, got ${count}:\n${err}")
  endif()
endif()

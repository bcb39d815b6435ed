# Runs the player once and checks how it ended.
#   cmake -DVIEWER=<program> -DARGS=<a|b|...> -DSTATUS=0|fail
#         [-DEXPECT=<text|text...>] [-DREJECT=<text|...>] [-DONCE=<text|...>] [-DLOG=<file>]
#         [-DIN=<folder>] -P RunViewer.cmake
# Texts are matched literally in standard error, or in LOG when given (the
# file is removed before the run); ONCE texts must be there exactly once.
# IN is the folder the program runs in. A sanitizer report always fails the run.
string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "|" ";" expect "${EXPECT}")
string(REPLACE "|" ";" reject "${REJECT}")
string(REPLACE "|" ";" once "${ONCE}")
list(APPEND reject "Sanitizer" "runtime error:")

# Shows play on the stepped clock unless the test says otherwise: as fast as
# frames are drawn, and the same every run.
if(NOT DEFINED ENV{ZM_FRAME_STEP_MS})
  set(ENV{ZM_FRAME_STEP_MS} 50)
endif()

if(LOG)
  file(REMOVE "${LOG}")
endif()
set(in_folder)
if(IN)
  set(in_folder WORKING_DIRECTORY "${IN}")
endif()
execute_process(COMMAND "${VIEWER}" ${args} ${in_folder}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
message("exit: ${rc}\nstderr:\n${err}")

if(STATUS STREQUAL "0")
  if(NOT rc STREQUAL "0")
    message(FATAL_ERROR "expected exit status 0, got '${rc}'")
  endif()
elseif(NOT rc MATCHES "^[1-9][0-9]*$")
  message(FATAL_ERROR "expected a failure exit status, got '${rc}'")
endif()

set(text "${err}")
if(LOG)
  if(NOT EXISTS "${LOG}")
    message(FATAL_ERROR "no log file ${LOG}")
  endif()
  file(READ "${LOG}" text)
  message("log:\n${text}")
endif()
foreach(e IN LISTS expect)
  string(FIND "${text}" "${e}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing: ${e}")
  endif()
endforeach()
foreach(o IN LISTS once)
  string(FIND "${text}" "${o}" first)
  string(FIND "${text}" "${o}" last REVERSE)
  if(first EQUAL -1)
    message(FATAL_ERROR "missing: ${o}")
  elseif(NOT first EQUAL last)
    message(FATAL_ERROR "more than once: ${o}")
  endif()
endforeach()
foreach(r IN LISTS reject)
  string(FIND "${err}${text}" "${r}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "unexpected: ${r}")
  endif()
endforeach()

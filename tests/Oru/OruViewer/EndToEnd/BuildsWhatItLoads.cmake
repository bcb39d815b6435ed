# Building only the program builds every module it loads at run time, into
# the place where it looks for them.
#   cmake -DNINJA=<ninja> -DBUILD=<build folder> -DTARGET=<program target>
#         -DFILES=<file|file...> -P BuildsWhatItLoads.cmake
# Ninja lists every command that building the target runs (as if nothing
# were built yet); each file must be the output of one of them.
string(REPLACE "|" ";" files "${FILES}")
execute_process(COMMAND "${NINJA}" -C "${BUILD}" -t commands "${TARGET}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE commands ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ninja -t commands ${TARGET} failed: ${err}")
endif()
foreach(f IN LISTS files)
  file(RELATIVE_PATH rel "${BUILD}" "${f}")
  string(FIND "${commands}" "-o ${rel} " at)
  if(at EQUAL -1)
    string(FIND "${commands}" "-o ${f} " at)
  endif()
  if(at EQUAL -1)
    message(FATAL_ERROR "building ${TARGET} does not make ${f}")
  endif()
  message("built with ${TARGET}: ${rel}")
endforeach()

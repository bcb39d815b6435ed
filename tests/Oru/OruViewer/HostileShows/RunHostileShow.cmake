# Runs the player on a hostile show with a private runtime and temporary
# folder of its own, then checks that nothing the show asked for happened
# and that nothing was left behind.
#   cmake -DVIEWER=<program> -DWORK=<folder> -DARGS=... -DSTATUS=... [-DEXPECT=...] [-DREJECT=...]
#         [-DSAVER=1] [-DNO_RUNTIME_DIR=1] [-DIN_THE_WAY=open|foreign]
#         [-DABSENT=<file|...>] [-DKEPT=<file|...>] -P RunHostileShow.cmake
# SAVER runs the program under a screen saver's name; IN_THE_WAY puts a
# temporary root there first that others may write to (open) or that
# belongs to another user (foreign; "open" when not run as the
# administrator, who alone can give a folder away).
string(REPLACE "|" ";" absent "${ABSENT}")
string(REPLACE "|" ";" kept "${KEPT}")

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/run" "${WORK}/tmp")
file(CHMOD "${WORK}/run" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
set(ENV{TMPDIR} "${WORK}/tmp")
set(ENV{ZM_SHOW_CODE_RAN} "${WORK}/show-code-ran")
list(APPEND absent "${WORK}/show-code-ran")
if(NO_RUNTIME_DIR)
  unset(ENV{XDG_RUNTIME_DIR})
  set(root "${WORK}/tmp/TAVREL_TEMP_ROOT-${uid}")
else()
  set(ENV{XDG_RUNTIME_DIR} "${WORK}/run")
  set(root "${WORK}/run/TAVREL_TEMP_ROOT")
endif()

if(IN_THE_WAY)
  file(MAKE_DIRECTORY "${root}")
  if(IN_THE_WAY STREQUAL "foreign" AND uid STREQUAL "0")
    execute_process(COMMAND chown 65534:65534 "${root}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "cannot give ${root} away")
    endif()
  else()
    file(CHMOD "${root}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE
         GROUP_EXECUTE WORLD_READ WORLD_WRITE WORLD_EXECUTE)
  endif()
endif()

if(SAVER)
  file(CREATE_LINK "${VIEWER}" "${WORK}/Saver.scr" COPY_ON_ERROR)
  set(VIEWER "${WORK}/Saver.scr")
endif()

foreach(f IN LISTS absent)
  file(REMOVE "${f}")
endforeach()
include("${CMAKE_CURRENT_LIST_DIR}/../EndToEnd/RunViewer.cmake")

foreach(f IN LISTS absent)
  if(EXISTS "${f}")
    message(FATAL_ERROR "the show did what it must not: ${f} is there")
  endif()
endforeach()
foreach(f IN LISTS kept)
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "the show did what it must not: ${f} is gone")
  endif()
endforeach()
# The program's own things in its temporary root are gone (the root itself
# may stay); a root in the way is left as it was.
if(NOT IN_THE_WAY AND EXISTS "${root}")
  file(GLOB left "${root}/*")
  if(left)
    message(FATAL_ERROR "left behind: ${left}")
  endif()
endif()

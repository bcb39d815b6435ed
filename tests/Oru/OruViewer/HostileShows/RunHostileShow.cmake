# Runs the player on a hostile show with a private runtime and temporary
# folder of its own, then checks that nothing the show asked for happened
# and that nothing was left behind.
#   cmake -DVIEWER=<program> -DWORK=<folder> -DARGS=... -DSTATUS=... [-DEXPECT=...] [-DREJECT=...]
#         [-DONCE=...] [-DSAVER=1] [-DNO_RUNTIME_DIR=1] [-DIN_THE_WAY=open|foreign] [-DSTAND_IN=1]
#         [-DPACKED=<project> -DPACKER=<OruPack> -DCANARY=<library>]
#         [-DABSENT=<file|...>] [-DKEPT=<file|...>] -P RunHostileShow.cmake
# SAVER runs the program under a screen saver's name; IN_THE_WAY puts a
# temporary root there first that others may write to (open) or that
# belongs to another user (foreign; "open" when not run as the
# administrator, who alone can give a folder away). STAND_IN puts a
# desktop opener first on PATH that leaves WORK/opened when anything asks
# it to open a link. PACKED makes the program a self-playing show of that
# project in WORK/shows, run from there, with a library that leaves its
# mark when loaded planted beside it and one folder up under every name the
# program loads code by.
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

if(STAND_IN)
  file(WRITE "${WORK}/bin/xdg-open" "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '${WORK}/opened'\n")
  file(CHMOD "${WORK}/bin/xdg-open" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(ENV{PATH} "${WORK}/bin:$ENV{PATH}")
  list(APPEND absent "${WORK}/opened")
endif()

if(PACKED)
  set(shows "${WORK}/shows")
  file(MAKE_DIRECTORY "${shows}")
  execute_process(COMMAND "${PACKER}" --program "${VIEWER}" "${PACKED}" "${shows}/MyShow" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot pack ${PACKED}: ${rc}")
  endif()
  set(VIEWER "${shows}/MyShow")
  set(IN "${shows}")
  foreach(name uxtheme.dll Wmasf.dll WmvCore.dll liboruogg.so liboruwma.so libzmPngLib.so libavutil.so.57
               libswresample.so.4 libswscale.so.6 libavcodec.so.59 libavformat.so.59 liblcms2.so.2)
    file(COPY_FILE "${CANARY}" "${shows}/${name}")
  endforeach()
  file(MAKE_DIRECTORY "${WORK}/Common/Linux" "${WORK}/Common/Win32/LibAVLite")
  file(COPY_FILE "${CANARY}" "${WORK}/Common/Linux/libzmPngLib.so")
  foreach(name libavutil.so.57 libswresample.so.4 libswscale.so.6 libavcodec.so.59 libavformat.so.59)
    file(COPY_FILE "${CANARY}" "${WORK}/Common/Win32/LibAVLite/${name}")
  endforeach()
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

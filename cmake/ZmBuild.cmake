# Build rules shared by every target of the tree.

find_program(ZM_CCACHE ccache)
if(ZM_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER "${ZM_CCACHE}")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${ZM_CCACHE}")
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

option(ZM_WERROR "Fail the build on any compiler warning" OFF)
option(ZM_UNITY "Compile each test binary in a few large units (quicker cold builds)" OFF)

add_compile_options(-Wall -Wextra)
if(ZM_WERROR)
  add_compile_options(-Werror)
endif()

# zm_unity_build(<target> <source>...): with ZM_UNITY, compiles a test
# binary's sources in batches (a third less compile time), but for the units
# listed here, whose private names (in anonymous namespaces), header
# constants or "using namespace" meet a neighbour's. Off by default: most new
# test files would need a place in the list. Libraries stay out of it: a
# batch would pull all its neighbours' code, and what that needs, into every
# program that uses one of them.
set(ZM_UNITY_SKIP_SOURCES
  tests/OruLib2/Effects/OruEffectManagerTest.cpp
  tests/OruLib2/OruClasses/OruUnpackTest.cpp
  tests/OruLib2/OruClasses/zmOruSource2Test.cpp
  tests/Platform/User/PlatUserTest.cpp
  tests/ZmLib/3DBasics/Dev3DThreadsTest.cpp
  tests/ZmLib/Composite/winFramesTest.cpp
  tests/ZmLib/Graphics/SysBitmapTest.cpp
  tests/ZmLib/Graphics/zmColorProfilesTest.cpp
  tests/ZmLib/VectorGraphics/zmVectorTextTest.cpp
  tests/ZmLib/Win32/winNvProfileTest.cpp
  tests/ZmLib/Win32/winRegistryTest.cpp)
function(zm_unity_build target)
  if(NOT ZM_UNITY)
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
  foreach(s ${ZM_UNITY_SKIP_SOURCES})
    if("${CMAKE_SOURCE_DIR}/${s}" IN_LIST ARGN)
      set_source_files_properties("${CMAKE_SOURCE_DIR}/${s}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
endfunction()

if(ZM_TSAN AND (ZM_SANITIZE OR ZM_FUZZ))
  message(FATAL_ERROR "ZM_TSAN does not combine with ZM_SANITIZE or ZM_FUZZ")
endif()
if(ZM_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "ZM_FUZZ needs clang: configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
if(ZM_SANITIZE OR ZM_FUZZ)
  # One build serves the tests and the fuzz targets: with ZM_FUZZ every unit
  # carries libFuzzer's coverage hooks, which the sanitizer runtime answers in
  # programs without libFuzzer. -O1 keeps it quick to compile and to run.
  set(zm_sanitizers address,undefined)
  if(ZM_FUZZ)
    set(zm_sanitizers fuzzer-no-link,address,undefined)
  endif()
  add_compile_options(-O1 -g -fno-omit-frame-pointer -fsanitize=${zm_sanitizers} -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ZM_TSAN)
  add_compile_options(-O1 -g -fno-omit-frame-pointer -fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()

include(ZmResources)

# zm_add_library(<name> DIRS <dir>... [DEPS <lib>...] [PRIVATE_DEPS <lib>...])
# Every .cpp directly inside the listed folders belongs to the library.
function(zm_add_library name)
  cmake_parse_arguments(A "" "" "DIRS;DEPS;PRIVATE_DEPS" ${ARGN})
  set(srcs)
  foreach(d ${A_DIRS})
    file(GLOB s CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/${d}/*.cpp")
    list(APPEND srcs ${s})
  endforeach()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC "${CMAKE_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
endfunction()

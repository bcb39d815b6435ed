# Build rules shared by every target of the tree.

find_program(ZM_CCACHE ccache)
if(ZM_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER "${ZM_CCACHE}")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${ZM_CCACHE}")
endif()

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "" FORCE)
endif()

add_compile_options(-Wall -Wextra)

if(ZM_SANITIZE)
  # -O1 keeps the sanitizer build quick to compile and still fast enough to run.
  add_compile_options(-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ZM_TSAN)
  add_compile_options(-O1 -g -fno-omit-frame-pointer -fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()
if(ZM_FUZZ)
  add_compile_options(-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
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

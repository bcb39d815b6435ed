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
option(ZM_UNITY "Compile the libraries and programs in larger units (quicker cold builds)" OFF)

add_compile_options(-Wall -Wextra)
if(ZM_WERROR)
  add_compile_options(-Werror)
endif()

# With ZM_UNITY the libraries and programs are compiled in larger units of
# about ten sources each (cold builds take about half the time; CI builds so).
# A source's unit follows from a hash of its path: a new file joins one unit
# and leaves the others as they were. A source whose private names (in
# anonymous namespaces), header constants or "using namespace" meet a
# neighbour's goes on this list and is compiled alone; so does one that g++
# must see as a main file (-Wsubobject-linkage), and PlatResources.cpp, whose
# table only programs with resources define. A build with
# -DZM_UNITY_MAX_UNITS=1 (one unit a target) shows every such source at once;
# every other grouping of the rest then compiles too.
set(ZM_UNITY_SKIP_SOURCES
  OruLib2/3DEngine/DrawManager3D2.cpp
  OruLib2/3DEngine/PerspectiveFilters.cpp
  OruLib2/3DEngine/RollFilter.cpp
  OruLib2/3DEngine/SimpleFilters.cpp
  OruLib2/NavPanel/VideoNavBar.cpp
  OruLib2/OruClasses/OruShowLoader.cpp
  OruLib2/OruClasses/OruSlideRandomList.cpp
  OruLib2/OruClasses/OruTextMacros.cpp
  OruLib2/OruClasses/OruViewPort.cpp
  OruLib2/OruViewer/OruMusicComposite.cpp
  OruLib2/OruViewer/OruMusicPlayer.cpp
  Platform/Acm/PlatAcm.cpp
  Platform/Gdi/PlatMscms.cpp
  Platform/Gfx/GfxSampler.cpp
  Platform/Gfx/GfxSystem.cpp
  Platform/PlatLock.cpp
  Platform/PlatRegistry.cpp
  Platform/PlatResources.cpp
  Platform/User/PlatWindows.cpp
  Platform/User/PlatX11Windows.cpp
  ZmLib/3DBasics/Dev3DApp2.cpp
  ZmLib/Composite/winSurface.cpp
  ZmLib/Composite/zmThemedBevel.cpp
  ZmLib/Composite/zmThemedButtons.cpp
  ZmLib/Composite/zmThemedCheckBoxes.cpp
  ZmLib/Composite/zmThemedControlImages.cpp
  ZmLib/Composite/zmThemedProgressBarStdTheme.cpp
  ZmLib/Composite/zmThemedScrollBar.cpp
  ZmLib/Composite/zmThemedTabControl.cpp
  ZmLib/Composite/zmThemedTabsTheme.cpp
  ZmLib/Graphics/zmAffineDraw.cpp
  ZmLib/Graphics/zmColorProfiles.cpp
  ZmLib/Graphics/zmDibBitmap.cpp
  ZmLib/Graphics/zmImageLib.cpp
  ZmLib/Graphics/zmNinePatchUtils.cpp
  ZmLib/Graphics/zmObjectFilters.cpp
  ZmLib/Graphics/zmRectUtils.cpp
  ZmLib/Music/zmMpegInfo.cpp
  ZmLib/Music/zmTimerChannel.cpp
  ZmLib/Win32/winRegistry.cpp
  ZmLib/Win32/Fonts/winTextElement.cpp
  ZmLib/Win32/Fonts/winTextVectorizer.cpp
  ZmLib/Win32/winWndAPI.cpp
  ZmLib/wpFileStream.cpp
  ZmLib/zmTempFiles.cpp
  tests/Oru/OruViewer/OruPlayShowTest.cpp
  tests/OruLib2/Effects/OruEffectManagerTest.cpp
  tests/OruLib2/NavPanel/VideoNavBarTest.cpp
  tests/OruLib2/OruClasses/Draw/OruImageDrawTest.cpp
  tests/OruLib2/OruClasses/Draw/OruTextDrawTest.cpp
  tests/OruLib2/OruClasses/Draw/OruVideoTest.cpp
  tests/OruLib2/OruClasses/OruSlideProducerTest.cpp
  tests/OruLib2/OruClasses/OruSlideTest.cpp
  tests/OruLib2/OruClasses/OruTextTest.cpp
  tests/OruLib2/OruClasses/OruTextThreadsTest.cpp
  tests/OruLib2/Overlay/OruThirdSlideTest.cpp
  tests/OruLib2/OruClasses/OruUnpackTest.cpp
  tests/OruLib2/OruClasses/OruViewerColorTransformTest.cpp
  tests/OruLib2/OruClasses/ShowBuilderTest.cpp
  tests/OruLib2/OruClasses/zmOruSource2Test.cpp
  tests/OruLib2/OruViewer/OruRootItemTest.cpp
  tests/Platform/Gfx/GfxSpanPathTest.cpp
  tests/Platform/PlatFilesTest.cpp
  tests/Platform/Sound/PlatDSoundTest.cpp
  tests/Platform/Sound/PlatDSoundThreadsTest.cpp
  tests/Platform/User/PlatDialogsTest.cpp
  tests/Platform/User/PlatUserTest.cpp
  tests/ZmLib/3DBasics/D3D9/Dev3D9Test.cpp
  tests/ZmLib/3DBasics/Dev3DThreadsTest.cpp
  tests/ZmLib/Composite/winFramesTest.cpp
  tests/ZmLib/Composite/zmFrameEditTest.cpp
  tests/ZmLib/Composite/zmStdFrameControlsTest.cpp
  tests/ZmLib/Composite/zmThemedControlsTest.cpp
  tests/ZmLib/Composite/zmThemedTabControlTest.cpp
  tests/ZmLib/Graphics/SysBitmapTest.cpp
  tests/ZmLib/Graphics/SysBitmapUtilsEdgeTest.cpp
  tests/ZmLib/Graphics/Video/VideoSource2Test.cpp
  tests/ZmLib/Graphics/sysCorrectInvisiblePixelsTest.cpp
  tests/ZmLib/Graphics/zmAffineDrawTest.cpp
  tests/ZmLib/Graphics/zmBitmapTest.cpp
  tests/ZmLib/Graphics/zmColorProfilesTest.cpp
  tests/ZmLib/Graphics/zmFPReadGIFTest.cpp
  tests/ZmLib/Graphics/zmGifLoaderTest.cpp
  tests/ZmLib/Graphics/zmImageLibTest.cpp
  tests/ZmLib/Graphics/zmJpegLoaderTest.cpp
  tests/ZmLib/Graphics/zmResampleTest.cpp
  tests/ZmLib/Music/zmMpegConverterTest.cpp
  tests/ZmLib/VectorGraphics/zmVectorTextTest.cpp
  tests/ZmLib/Win32/Fonts/winFontUtilsTest.cpp
  tests/ZmLib/Win32/Fonts/winTextElementTest.cpp
  tests/ZmLib/Win32/Fonts/winTextVectorizerTest.cpp
  tests/ZmLib/Win32/SysObj2Test.cpp
  tests/ZmLib/Win32/winFileAPITest.cpp
  tests/ZmLib/Win32/winNvProfileTest.cpp
  tests/ZmLib/Win32/winRegistryTest.cpp
  tests/ZmLib/zmIniValuesTest.cpp
  tests/ZmLib/zmStringListTest.cpp)

# At most this many units a target (1: one unit, which shows every clash).
set(ZM_UNITY_MAX_UNITS 64 CACHE STRING "Most units of one target with ZM_UNITY")

# zm_unity_build(<target>): the target's C++ sources in units, with ZM_UNITY.
function(zm_unity_build target)
  if(NOT ZM_UNITY)
    return()
  endif()
  get_target_property(srcs ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(kept)
  foreach(s ${srcs})
    get_filename_component(abs "${s}" ABSOLUTE BASE_DIR "${dir}")
    file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${abs}")
    if(NOT abs MATCHES "\\.cpp$" OR rel MATCHES "^\\.\\.")
      continue()  # generated or outside the tree
    endif()
    if(rel IN_LIST ZM_UNITY_SKIP_SOURCES)
      set_source_files_properties("${abs}" DIRECTORY "${dir}" PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    else()
      list(APPEND kept "${rel}")
    endif()
  endforeach()
  list(LENGTH kept n)
  if(n LESS 2)
    return()
  endif()
  # A power of two, so that the count of units changes rarely.
  set(units 1)
  while(units LESS ZM_UNITY_MAX_UNITS)
    math(EXPR most "${units} * 12")
    if(NOT most LESS n)
      break()
    endif()
    math(EXPR units "${units} * 2")
  endwhile()
  foreach(rel ${kept})
    string(MD5 h "${rel}")
    string(SUBSTRING "${h}" 0 6 h)
    math(EXPR unit "0x${h} % ${units}")
    set_source_files_properties("${CMAKE_SOURCE_DIR}/${rel}" DIRECTORY "${dir}" PROPERTIES UNITY_GROUP "unit${unit}")
  endforeach()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
endfunction()

# zm_unity_all(<folder>): zm_unity_build for every library and program made
# in the folder and below it (called once the tree is read).
function(zm_unity_all dir)
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t ${targets})
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "STATIC_LIBRARY" OR type STREQUAL "EXECUTABLE")
      zm_unity_build(${t})
    endif()
  endforeach()
  get_property(subs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(s ${subs})
    zm_unity_all("${s}")
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
include(ZmLayout)

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

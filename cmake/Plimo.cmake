# Warnings for our own code only; third-party headers come in as SYSTEM. They
# fail only our own test build: a user's compiler may know warnings ours don't.
set(PLIMO_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
if(PLIMO_WERROR)
  list(APPEND PLIMO_WARNINGS -Werror)
endif()
if(PLIMO_WERROR AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 at -O2/-O3 reports bounds it cannot prove inside std::vector's own
  # inserts and comparisons; keep them visible as warnings without failing the
  # build.
  list(APPEND PLIMO_WARNINGS -Wno-error=array-bounds -Wno-error=stringop-overflow -Wno-error=stringop-overread
       -Wno-error=restrict)
endif()

# The fuzzers are guided by coverage of the code they reach: only the
# libraries and programs (src/, server/) carry it, so the test programs
# compile without that cost.
macro(plimo_fuzz_coverage)
  if(PLIMO_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endmacro()

# For the layers no fuzzer links (the windows, the desktops' platforms, the
# program's start): the calling folder's targets compile without coverage.
macro(plimo_without_fuzz_coverage)
  get_directory_property(_plimo_options COMPILE_OPTIONS)
  list(REMOVE_ITEM _plimo_options -fsanitize=fuzzer-no-link)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${_plimo_options}")
endmacro()

# The standard headers most files include, parsed once per library instead
# of once per file (about a third of a file's compile time).
set(PLIMO_PCH_HEADERS <algorithm> <array> <atomic> <chrono> <cstddef> <cstdint> <cstdio> <cstring> <deque>
    <functional> <map> <memory> <mutex> <optional> <span> <string> <string_view> <unordered_map> <utility>
    <vector>)
# The Qt headers of the windows and their tests.
set(PLIMO_QT_PCH_HEADERS <QApplication> <QCheckBox> <QHBoxLayout> <QImage> <QKeyEvent> <QLabel> <QLineEdit>
    <QPainter> <QPlainTextEdit> <QPushButton> <QScreen> <QScrollArea> <QTextBrowser> <QVBoxLayout> <QWidget>)

# plimo_library(name [LINK libs...] [EXCLUDE files...] [PCH headers...]): a
# static library of every .cpp in the calling folder (not its subfolders),
# with the standard headers and those PCH names precompiled.
function(plimo_library name)
  cmake_parse_arguments(ARG "" "" "LINK;EXCLUDE;PCH" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(ex IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${ex}$")
  endforeach()
  if(NOT sources)
    # A layer with headers only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_LINK})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(${name} PRIVATE ${PLIMO_WARNINGS})
  target_link_libraries(${name} PUBLIC ${ARG_LINK})
  list(LENGTH sources count)
  if(count GREATER 1)
    target_precompile_headers(${name} PRIVATE ${PLIMO_PCH_HEADERS} ${ARG_PCH})
  endif()
endfunction()

# plimo_tests(LINK libs... [LABELS labels...]): one GoogleTest program per
# test_*.cpp in the calling folder, so that one file's breakage never hides
# another's results.
# Settings every test program shares (also the precompiled header's).
function(plimo_test_settings name)
  target_compile_options(${name} PRIVATE ${PLIMO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  # Tests that run our programs or read test data find them here.
  target_compile_definitions(${name} PRIVATE PLIMO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             PLIMO_BINARY_DIR="${PROJECT_BINARY_DIR}")
endfunction()

# TIMEOUT n: seconds each case may take (CTest's own limit otherwise).
# SERIAL programs...: run alone, for cases that time the code under load of
# their own making and must not share the machine with other tests.
function(plimo_tests)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LINK;LABELS;SERIAL" ${ARGN})
  set(limit)
  if(ARG_TIMEOUT)
    set(limit TIMEOUT ${ARG_TIMEOUT})
  endif()
  # GoogleTest's headers are most of a test file's compile time: parse them once.
  if(NOT TARGET plimo_test_pch)
    add_library(plimo_test_pch STATIC ${PROJECT_SOURCE_DIR}/tests/testkit/pch.cpp)
    plimo_test_settings(plimo_test_pch)
    target_link_libraries(plimo_test_pch PRIVATE GTest::gtest GTest::gmock)
    target_precompile_headers(plimo_test_pch PRIVATE ${PLIMO_PCH_HEADERS} <gtest/gtest.h> <gmock/gmock.h>)
  endif()
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(file IN LISTS files)
    get_filename_component(name ${file} NAME_WE)
    add_executable(${name} ${file})
    plimo_test_settings(${name})
    target_precompile_headers(${name} REUSE_FROM plimo_test_pch)
    target_link_libraries(${name} PRIVATE ${ARG_LINK} GTest::gtest GTest::gmock GTest::gtest_main)
    set(serial)
    if(name IN_LIST ARG_SERIAL)
      set(serial RUN_SERIAL TRUE)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${ARG_LABELS}" ${limit} ${serial})
  endforeach()
endfunction()

# plimo_fuzzer(name source LINK libs... SECONDS n): a libFuzzer target, run for a
# bounded time as a test.
function(plimo_fuzzer name source)
  cmake_parse_arguments(ARG "" "SECONDS" "LINK" ${ARGN})
  if(NOT PLIMO_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 20)
  endif()
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${PLIMO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${ARG_SECONDS} -max_len=4096 -rss_limit_mb=1024)
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()

# plimo_bench(name sources... LINK libs...): a Google Benchmark program.
function(plimo_bench name)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_compile_options(${name} PRIVATE ${PLIMO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/bench)
  target_link_libraries(${name} PRIVATE ${ARG_LINK} benchmark::benchmark)
endfunction()

# Adds every direct subfolder of the calling folder that has a CMakeLists.txt,
# so that a new test or bench folder needs no edit elsewhere.
function(plimo_add_subfolders)
  file(GLOB children CONFIGURE_DEPENDS LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# plimo_fuzzers(LINK libs...): one libFuzzer target per fuzz_*.cpp in the
# calling folder, each run for a bounded time as a test (clang builds only).
function(plimo_fuzzers)
  cmake_parse_arguments(ARG "" "SECONDS" "LINK" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_*.cpp)
  foreach(file IN LISTS files)
    get_filename_component(name ${file} NAME_WE)
    plimo_fuzzer(${name} ${file} LINK ${ARG_LINK} SECONDS ${ARG_SECONDS})
  endforeach()
endfunction()

# Shared build settings and helpers for every tree (host, sanitizer, win64, win32).

# Tests run where the binaries can run: natively on the host, under Wine for
# Windows. The i686 tree's tests need 32-bit Wine; where it cannot run they
# are registered all the same and report themselves skipped, never passed.
# Asked anew at every configure: ./test installs 32-bit Wine before it
# configures, and a cached answer would outlive the install.
set(LORVANE_RUN_TESTS ON)
set(LORVANE_TESTS_SKIPPED_BECAUSE "")
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(LORVANE_WINDOWS_BITS 32)
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/wine32-probe
                    RESULT_VARIABLE wine32_probe OUTPUT_VARIABLE wine32_probe_says
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT wine32_probe EQUAL 0)
      set(LORVANE_RUN_TESTS OFF)
      set(LORVANE_TESTS_SKIPPED_BECAUSE "32-bit Windows programs cannot run here: ${wine32_probe_says}")
      message(STATUS "${LORVANE_TESTS_SKIPPED_BECAUSE}; the Wine tests of this tree are skipped")
    endif()
  else()
    set(LORVANE_WINDOWS_BITS 64)
  endif()
endif()

# lorvane_add_skipped_test(name): a test that only reports itself skipped,
# standing for one that cannot run in this tree.
function(lorvane_add_skipped_test name)
  add_test(NAME ${name} COMMAND sh -c "echo 'SKIP: $1'; exit 77" sh "${LORVANE_TESTS_SKIPPED_BECAUSE}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS "wine;skipped")
endfunction()

add_compile_options(-Wall -Wextra -Wpedantic)
if(WIN32)
  # Everything ships statically linked so that only system DLLs are imported.
  # No link time in the PE header: one source gives the same binary.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp)
  # Stack canaries and checked string/memory calls. mingw-w64 implements both
  # with libssp; the driver links it when the link sees the stack-protector
  # flag, and -static makes that libssp.a, so no libssp-0.dll is imported.
  # The fortified headers only take effect with optimisation, as in the
  # presets' RelWithDebInfo.
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions(_FORTIFY_SOURCE=2)
  add_link_options(-fstack-protector-strong)
endif()

if(LORVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(LORVANE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# GoogleTest is built from Debian's sources in every tree, so the Windows
# trees get it compiled with the same mingw-w64 toolchain.
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# Test code is compiled for a quick build rather than for speed: -Og in the
# optimised trees (the code under test keeps the tree's flags), and
# GoogleTest's header, most of what a test source compiles, precompiled
# once per tree by lorvane_test_pch. lorvane_test_target(target) makes a
# target test code; tests/CMakeLists.txt does it for every target there
# that uses GoogleTest.
set(LORVANE_TEST_CODE_OPTIONS $<$<CONFIG:RelWithDebInfo,Release,MinSizeRel>:-Og>)
foreach(gtest_library gtest gtest_main)
  target_compile_options(${gtest_library} PRIVATE ${LORVANE_TEST_CODE_OPTIONS})
endforeach()
set(test_pch_source ${CMAKE_BINARY_DIR}/lorvane_test_pch.cpp)
file(CONFIGURE OUTPUT ${test_pch_source} CONTENT "// Makes the test programs' precompiled header.\n")
add_library(lorvane_test_pch OBJECT EXCLUDE_FROM_ALL ${test_pch_source})
target_link_libraries(lorvane_test_pch PRIVATE GTest::gtest)
target_compile_options(lorvane_test_pch PRIVATE ${LORVANE_TEST_CODE_OPTIONS})
target_precompile_headers(lorvane_test_pch PRIVATE <gtest/gtest.h>)
function(lorvane_test_target target)
  get_target_property(reused ${target} PRECOMPILE_HEADERS_REUSE_FROM)
  if(NOT reused)
    target_compile_options(${target} PRIVATE ${LORVANE_TEST_CODE_OPTIONS})
    target_precompile_headers(${target} REUSE_FROM lorvane_test_pch)
  endif()
endfunction()

# A Wine test that changes its bed (registry, ports, desktop windows) takes a
# bed of its own from the pool of tests/wine/beds.json (the test presets pass
# it to ctest; tests/wine/winebed turns the bed ctest hands out into a lane).
set(LORVANE_OWN_BED RESOURCE_GROUPS beds:1)

# A test's time-out says how long it may run, so it is also its cost: ctest
# starts the costliest tests first, and a run does not end on one long test
# started last. (Later runs order by the times ctest recorded.) Called in an
# area directory, it takes every test of the directory once it is done.
function(lorvane_cost_by_timeout)
  get_property(scheduled DIRECTORY PROPERTY LORVANE_COST_BY_TIMEOUT)
  if(NOT scheduled)
    set_property(DIRECTORY PROPERTY LORVANE_COST_BY_TIMEOUT ON)
    cmake_language(DEFER CALL lorvane_cost_by_timeout_now)
  endif()
endfunction()
function(lorvane_cost_by_timeout_now)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test ${tests})
    get_test_property(${test} TIMEOUT timeout)
    get_test_property(${test} COST cost)
    if(timeout AND NOT cost)
      set_tests_properties(${test} PROPERTIES COST ${timeout})
    endif()
  endforeach()
endfunction()

# lorvane_add_gtest(name [OWN_BED] SOURCES... LIBS...) adds a GoogleTest
# program and registers it with CTest where the tree can run it. Natively
# every test case is a CTest test of its own. Under Wine the program is one
# CTest test that runs all its cases in one process: a Wine process start
# costs more CPU than most cases, and listing the cases would start each
# program once more; a failure still names its cases in the output.
# OWN_BED: under Wine its tests change the bed's state. A test that needs
# GoogleMock names GTest::gmock among its LIBS.
function(lorvane_add_gtest name)
  cmake_parse_arguments(T "OWN_BED" "" "SOURCES;LIBS;LABELS" ${ARGN})
  lorvane_cost_by_timeout()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  lorvane_test_target(${name})
  if(LORVANE_RUN_TESTS)
    set(labels ${T_LABELS})
    if(WIN32)
      list(APPEND labels wine)
      add_test(NAME ${name} COMMAND ${name})
      set_tests_properties(${name} PROPERTIES LABELS "${labels}")
      if(T_OWN_BED)
        set_tests_properties(${name} PROPERTIES ${LORVANE_OWN_BED})
      endif()
    else()
      list(APPEND labels native)
      gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST
                           PROPERTIES LABELS "${labels}")
    endif()
  elseif(LORVANE_TESTS_SKIPPED_BECAUSE)
    lorvane_add_skipped_test(${name})
  endif()
endfunction()

# lorvane_add_fuzzer(name SOURCES... LIBS...) builds a libFuzzer target in a
# fuzzing tree; elsewhere the same file is compiled into a replay program
# that feeds each file given on the command line once, so the target always builds.
function(lorvane_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(WIN32)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  if(LORVANE_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # A short bounded run on every test run; longer runs are done by hand.
    set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
    file(MAKE_DIRECTORY ${corpus})
    add_test(NAME fuzz.${name} COMMAND ${name} -max_total_time=10 -rss_limit_mb=2048 -timeout=10 ${corpus})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  endif()
  set_property(GLOBAL APPEND PROPERTY LORVANE_FUZZERS ${name})
endfunction()

# Host programs that Windows-side tests drive (the printer simulator runs on
# Linux). The win64 tree finds them in the host tree unless told otherwise.
set(LORVANE_HOST_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/host CACHE PATH "Host build tree with the Linux tools")
set(LORVANE_WINEBED ${PROJECT_SOURCE_DIR}/tests/wine/winebed)
# The win64 tree's package and side-by-side tests also use the i686 tree's
# Orbalin.dll and detector-sim.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(LORVANE_WIN32_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/win32 CACHE PATH
      "i686 build tree whose Orbalin.dll the x64 package carries")
endif()

# lorvane_add_wine_test(name COMMAND cmd args... [LABELS ...]) registers a
# script-driven test that runs inside a Wine test bed of its own for its
# whole length (desktop, COM port links, registry). Built-ins
# the test starts by name (wine reg, wine cscript) have the tree's bitness
# (WINEBED_BITS); a script exiting 77 counts as skipped.
function(lorvane_add_wine_test name)
  cmake_parse_arguments(W "" "" "COMMAND;LABELS" ${ARGN})
  lorvane_cost_by_timeout()
  if(NOT WIN32)
    return()
  endif()
  if(NOT LORVANE_RUN_TESTS)
    if(LORVANE_TESTS_SKIPPED_BECAUSE)
      lorvane_add_skipped_test(${name})
    endif()
    return()
  endif()
  add_test(NAME ${name} COMMAND ${LORVANE_WINEBED} run ${W_COMMAND})
  set_tests_properties(${name} PROPERTIES LABELS "wine;${W_LABELS}" ${LORVANE_OWN_BED}
    SKIP_RETURN_CODE 77
    ENVIRONMENT "LORVANE_HOST_BUILD_DIR=${LORVANE_HOST_BUILD_DIR};LORVANE_BUILD_DIR=${CMAKE_BINARY_DIR};LORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR};WINEBED_BITS=${LORVANE_WINDOWS_BITS}")
endfunction()

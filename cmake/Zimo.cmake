# Helpers shared by every module.
#
# zimo_tests(<prefix> [QT] LIBS <libs...>)
#   One test program per <module>/tests/*_test.cc, named <prefix>_<file>,
#   each test case registered with ctest on its own so cases run in parallel.
#   QT for a module whose tests link Qt (they share another precompiled
#   header).
# zimo_benchmarks(<prefix> LIBS <libs...>)
#   One benchmark program per <module>/bench/*_bench.cc (not run by ctest).
# zimo_fuzz_target(<name> SOURCES <srcs...> LIBS <libs...> [INCLUDES <dirs...>]
#                  [CORPUS <files...>])
#   A fuzz target (defines LLVMFuzzerTestOneInput): a libFuzzer program under
#   clang; with any other compiler it links the replay driver, and ctest runs
#   it as <name>.replay over the corpus files and its generated inputs.
#   Built when the compiler is clang or ZIMO_FUZZ is on.

# ZIMO_TEST_COMPILE_OPTIONS: extra options for the test and benchmark
# programs' own sources (the sanitizer preset compiles them at -O0: the code
# under test keeps its optimisation, and these sources, three quarters of the
# tree, compile in half the time).
set(ZIMO_TEST_COMPILE_OPTIONS "" CACHE STRING "Options for test and benchmark sources only")

# One precompiled header of the test framework and the standard library for
# every test program. Its holder is a test-like program of its own, compiled
# with exactly the test programs' options, since a precompiled header is only
# taken by a compile with the same ones.
# Qt's programs compile as position-independent code (-fPIC, not -fPIE), so
# the tests of Qt modules (zimo_tests(... QT)) take a second holder that
# links Qt.
function(zimo_test_pch_holder holder)
  if(TARGET ${holder})
    return()
  endif()
  add_executable(${holder} ${PROJECT_SOURCE_DIR}/platform/testing/pch/pch_holder.cc)
  target_link_libraries(${holder} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main
                                          Threads::Threads ${ARGN})
  target_compile_options(${holder} PRIVATE ${ZIMO_TEST_COMPILE_OPTIONS})
  target_precompile_headers(${holder} PRIVATE
                            ${PROJECT_SOURCE_DIR}/platform/testing/pch/test_pch.h)
  set_target_properties(${holder} PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                             ${CMAKE_BINARY_DIR}/testing)
endfunction()

function(zimo_tests prefix)
  if(NOT ZIMO_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "QT" "" "LIBS" ${ARGN})
  if(ARG_QT)
    set(pch_holder zimo_test_pch_qt)
    zimo_test_pch_holder(${pch_holder} Qt6::Core)
  else()
    set(pch_holder zimo_test_pch)
    zimo_test_pch_holder(${pch_holder})
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cc)
  foreach(src ${test_sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} zimo_testsupport GTest::gtest GTest::gmock
                                            GTest::gtest_main Threads::Threads)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_options(${target} PRIVATE ${ZIMO_TEST_COMPILE_OPTIONS})
    target_precompile_headers(${target} REUSE_FROM ${pch_holder})
    gtest_discover_tests(${target} TEST_PREFIX "${target}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
                         PROPERTIES TIMEOUT 120 ENVIRONMENT "ZIMO_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
  endforeach()
endfunction()

function(zimo_benchmarks prefix)
  if(NOT ZIMO_BUILD_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB bench_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/bench/*_bench.cc)
  foreach(src ${bench_sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} zimo_testsupport benchmark::benchmark
                                            Threads::Threads)
    target_compile_options(${target} PRIVATE ${ZIMO_TEST_COMPILE_OPTIONS})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
  endforeach()
endfunction()

function(zimo_fuzz_target name)
  if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR ZIMO_FUZZ))
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;INCLUDES;CORPUS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${ARG_INCLUDES}
                                             ${PROJECT_SOURCE_DIR}/platform/testing/fuzz)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/platform/testing/fuzz/fuzz_replay_main.cc)
    if(ZIMO_BUILD_TESTS)
      add_test(NAME ${name}.replay COMMAND ${name} ${ARG_CORPUS})
      # The limit only catches a hang: the compiler's replay takes 15 s on an
      # idle machine and over 100 s on a loaded one.
      set_tests_properties(${name}.replay PROPERTIES TIMEOUT 300)
    endif()
  endif()
endfunction()

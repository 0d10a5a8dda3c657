# Helpers shared by every module.
#
# zimo_tests(<prefix> LIBS <libs...>)
#   One test program per <module>/tests/*_test.cc, named <prefix>_<file>,
#   each test case registered with ctest on its own so cases run in parallel.
# zimo_benchmarks(<prefix> LIBS <libs...>)
#   One benchmark program per <module>/bench/*_bench.cc (not run by ctest).
# zimo_fuzz_target(<name> SOURCES <srcs...> LIBS <libs...> [INCLUDES <dirs...>]
#                  [CORPUS <files...>])
#   A fuzz target (defines LLVMFuzzerTestOneInput): a libFuzzer program under
#   clang; with any other compiler it links the replay driver, and ctest runs
#   it as <name>.replay over the corpus files and its generated inputs.
#   Built when the compiler is clang or ZIMO_FUZZ is on.

function(zimo_tests prefix)
  if(NOT ZIMO_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cc)
  foreach(src ${test_sources})
    get_filename_component(name ${src} NAME_WE)
    set(target ${prefix}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} zimo_testsupport GTest::gtest GTest::gmock
                                            GTest::gtest_main Threads::Threads)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
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

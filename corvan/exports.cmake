# libcorvan32.so: the library's exported C functions, built from the whole
# static library zimo_corvan plus the start-up that runs when it is loaded.
# Only the C functions named in corvan32.map are exported.
#
# Included from corvan/CMakeLists.txt after zimo_corvan, its tests and its
# benchmarks are defined.

include_guard(GLOBAL)

add_library(corvan32 SHARED ${CMAKE_CURRENT_LIST_DIR}/library_main.cc)
target_include_directories(corvan32 PRIVATE ${CMAKE_CURRENT_LIST_DIR})
# Every object of the core (and of the dialogs, whose exports live here too)
# goes in, whether or not something in the library calls it. The archives are
# named as plain link options because the dialogs also pull the core in as an
# ordinary dependency.
set(corvan32_whole zimo_corvan zimo_plcc_core)
if(TARGET zimo_corvan_dialogs)
  list(APPEND corvan32_whole zimo_corvan_dialogs)
endif()
target_link_libraries(corvan32 PRIVATE ${corvan32_whole})
set(corvan32_whole_files)
foreach(lib ${corvan32_whole})
  list(APPEND corvan32_whole_files "$<TARGET_FILE:${lib}>")
endforeach()
# One option group: CMake folds repeated identical options into one.
target_link_options(corvan32 PRIVATE "LINKER:--whole-archive" ${corvan32_whole_files}
                    "LINKER:--no-whole-archive")
target_link_options(corvan32 PRIVATE -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/corvan32.map
                    -Wl,--no-undefined)
# SONAME libcorvan32.so.<major> (the project's version): a client links
# against the interface's major version; libcorvan32.so stays the name that
# loaders by name ask for.
set_target_properties(corvan32 PROPERTIES OUTPUT_NAME corvan32 VERSION ${PROJECT_VERSION}
                                          SOVERSION ${PROJECT_VERSION_MAJOR}
                                          LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/corvan32.map)
# A program that links the library sees the public headers only.
target_include_directories(corvan32 INTERFACE
  $<BUILD_INTERFACE:${CMAKE_CURRENT_LIST_DIR}/include>
  $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# Installation and packaging: `cmake --install` lays out every shipped
# library, program and public header under the prefix (GNUInstallDirs),
# with corvan32.pc and the CMake package Corvan32 (both relocatable), and
# `cpack -G DEB` packs the same tree for /usr. Test programs, benchmarks and
# the modules' static libraries are not installed.
#
# Included by the top-level CMakeLists.txt after every module.

include(CMakePackageConfigHelpers)

# Installed programs find the installed libraries relative to themselves.
set(zimo_install_rpath "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

set(zimo_installed_programs zimoserver zimo-drvhost zimo-cardsim zimo-term zimo-plcc zimo-jux
                            zimo-ctlhost kabrun32 kabrun32-drive)
set(zimo_installed_libraries vmemgr jux170 qeldll32 vocto voctoks)

foreach(program ${zimo_installed_programs})
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "${zimo_install_rpath}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# Every shared library carries the project's version: SONAME lib<name>.so.<major>,
# with the lib<name>.so link that programs and loaders by name ask for.
foreach(library ${zimo_installed_libraries})
  if(TARGET ${library})
    set_target_properties(${library} PROPERTIES INSTALL_RPATH "$ORIGIN" VERSION ${PROJECT_VERSION}
                                                SOVERSION ${PROJECT_VERSION_MAJOR})
    install(TARGETS ${library} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()

# A manual page per program, made from its --help when the program is built.
set(zimo_man_summaries
    "zimoserver=the server owning a machine's Zimo cards"
    "zimo-drvhost=the driver host serving PCI, ISA and USB Zimo cards"
    "zimo-cardsim=the simulated Zimo card"
    "zimo-term=sends command lines to a Zimo card"
    "zimo-plcc=the PLC compiler for Zimo card programs"
    "zimo-jux=a Zimo card through the older backend library"
    "zimo-ctlhost=a scriptable container for the Zimo controls"
    "kabrun32=the lab program for control experiments on laboratory plants"
    "kabrun32-drive=drives the lab program kabrun32 from a script")
set(zimo_man_pages "")
foreach(entry ${zimo_man_summaries})
  string(REGEX REPLACE "=.*" "" program "${entry}")
  string(REGEX REPLACE "^[^=]*=" "" summary "${entry}")
  if(TARGET ${program})
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
                       COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}>
                               -DNAME=${program} "-DSUMMARY=${summary}"
                               -DVERSION=${PROJECT_VERSION} -DOUTPUT=${page}
                               -P ${PROJECT_SOURCE_DIR}/cmake/ZimoManPage.cmake
                       DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/ZimoManPage.cmake
                       COMMENT "Manual page of ${program}" VERBATIM)
    list(APPEND zimo_man_pages ${page})
  endif()
endforeach()
add_custom_target(zimo_man_pages ALL DEPENDS ${zimo_man_pages})
# OPTIONAL: an install from a build of a few targets only has no pages.
install(FILES ${zimo_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)

# The package's copyright and changelog, where Debian keeps them.
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/package/changelog
               @ONLY)
execute_process(COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/package/changelog)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${PROJECT_BINARY_DIR}/package/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/zimo)

# Public C headers of the libraries other than Corvan32.
foreach(header jux/include/jux/jux170.h labhelper/include/labhelper/qeldll32.h
               vmemgr/include/vmemgr/vmemgr.h controls/voctoks/include/voctoks/voctoks_ids.h
               controls/vocto/include/vocto/vocto_ids.h)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${header})
    get_filename_component(folder ${header} DIRECTORY)
    get_filename_component(folder ${folder} NAME)
    install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${folder})
  endif()
endforeach()

# Corvan32: the library (SONAME libcorvan32.so.1, with the libcorvan32.so
# link that loaders by name ask for), its headers, corvan32.pc and the CMake
# package giving Corvan32::corvan32.
if(TARGET corvan32)
  set_target_properties(corvan32 PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS corvan32 EXPORT Corvan32Targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  get_property(corvan32_public_headers GLOBAL PROPERTY ZIMO_CORVAN32_PUBLIC_HEADERS)
  install(FILES ${corvan32_public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/corvan)

  set(corvan32_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Corvan32)
  install(EXPORT Corvan32Targets NAMESPACE Corvan32:: DESTINATION ${corvan32_cmake_dir})
  set(corvan32_version ${PROJECT_VERSION})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/Corvan32Config.cmake.in
                                ${PROJECT_BINARY_DIR}/package/Corvan32Config.cmake
                                INSTALL_DESTINATION ${corvan32_cmake_dir})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/Corvan32ConfigVersion.cmake
                                   VERSION ${corvan32_version} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/package/Corvan32Config.cmake
                ${PROJECT_BINARY_DIR}/package/Corvan32ConfigVersion.cmake
          DESTINATION ${corvan32_cmake_dir})

  # The .pc file names the prefix relative to its own folder.
  set(corvan32_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH corvan32_pc_to_prefix /prefix/${corvan32_pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" corvan32_pc_to_prefix "${corvan32_pc_to_prefix}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/corvan32.pc.in ${PROJECT_BINARY_DIR}/package/corvan32.pc
                 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/corvan32.pc DESTINATION ${corvan32_pc_dir})
endif()

# The Debian package: the whole installed tree under /usr, its run-time
# dependencies computed from the binaries.
set(CPACK_PACKAGE_NAME zimo)
set(CPACK_PACKAGE_VENDOR "Zimo")
set(CPACK_PACKAGE_CONTACT "Zimo host software <zimo@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "host software for the Zimo motion-controller cards")
# Lines of at most 80 characters, as Debian's control files want them.
set(CPACK_PACKAGE_DESCRIPTION
    "The communications library libcorvan32.so with its C headers, pkg-config\n"
    "file and CMake package, the server zimoserver, the driver host\n"
    "zimo-drvhost, the simulated card zimo-cardsim, the tools zimo-term,\n"
    "zimo-plcc, zimo-jux and zimo-ctlhost, and the libraries libjux170.so,\n"
    "libqeldll32.so, libvoctoks.so, libvocto.so and libvmemgr.so.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# No debug information in the package.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries satisfy its programs' links.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "")
# The libraries in the system's folder: the loader's cache is rebuilt.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_GENERATOR DEB)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)

# The installed tree in use: install into a scratch prefix, build the
# example against it with pkg-config and with find_package, and run it
# against the installed simulated card and server (scripts/check_install.sh).
if(ZIMO_BUILD_TESTS AND TARGET corvan32)
  add_test(NAME install.example
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check_install.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(install.example PROPERTIES TIMEOUT 240
                       ENVIRONMENT "EXAMPLE_CFLAGS=${CMAKE_C_FLAGS};EXAMPLE_LDFLAGS=${CMAKE_EXE_LINKER_FLAGS}")
endif()

# Installing like a library: the driver, the host library stand-in, the
# public headers, the command-line host, the simulator, a pkg-config file,
# man pages and the example host. Every run path is relative to the file
# that carries it, so the installed tree works wherever it is moved, and
# `cpack` (the deb preset) packs the same tree as a Debian package.
include(GNUInstallDirs)

file(RELATIVE_PATH bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
# The host library stand-in goes to a directory of its own (lib/morvane/),
# out of the system's library path: a site's own libostrel.so may then be
# installed there, by its own package. The driver and the programs find the
# stand-in through their run paths, after it (as the build tree has it) beside
# them; a host that loads its own library first keeps it.
set_target_properties(morvane ostrel PROPERTIES INSTALL_RPATH "$ORIGIN/morvane:$ORIGIN")
set_target_properties(morvane_cli plcsim PROPERTIES
  INSTALL_RPATH "$ORIGIN/${bin_to_lib}/morvane:$ORIGIN/${bin_to_lib}")
# Built with the installed run path, not a build-tree one rewritten on
# install: the rewrite needs room, which CMake pads with empty entries, and
# the dynamic loader searches the working directory for each (a
# libstdc++.so.6 there would be loaded). The programs sit one directory
# below the libraries in the build tree (tools/, sim/), so the libraries are
# linked again where the installed run path looks from there.
set_target_properties(morvane ostrel morvane_cli plcsim PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
get_filename_component(build_libdir ${PROJECT_BINARY_DIR}/tools/${bin_to_lib} ABSOLUTE)
file(MAKE_DIRECTORY ${build_libdir})
foreach(library libmorvane.so libostrel.so)
  file(RELATIVE_PATH target ${build_libdir} ${PROJECT_BINARY_DIR}/${library})
  file(CREATE_LINK ${target} ${build_libdir}/${library} SYMBOLIC)
endforeach()

install(TARGETS morvane LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ostrel LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/morvane)
install(TARGETS morvane_cli plcsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY include/morvane DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES examples/read_write.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The guides, where the README's links find them.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")
install(PROGRAMS examples/run_against_plcsim.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

install(FILES ostrel/host_library.map DESTINATION ${CMAKE_INSTALL_DATADIR}/morvane)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/morvane)
file(RELATIVE_PATH config_to_prefix /${config_dir} /)
configure_file(cmake/morvane-config.cmake.in morvane-config.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/morvane-config-version.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/morvane-config.cmake
              ${PROJECT_BINARY_DIR}/morvane-config-version.cmake DESTINATION ${config_dir})

file(RELATIVE_PATH pc_to_prefix /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" pc_to_prefix "${pc_to_prefix}")
configure_file(cmake/morvane.pc.in morvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvane.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Man pages from the programs' own --help, made when the programs are built.
set(man_pages)
foreach(page "morvane_cli|morvane|command-line host for the MORVANE PLC driver|plcsim"
             "plcsim|plcsim|PLC partner simulator for 3964/3964R with RK512|morvane")
  string(REPLACE "|" ";" page "${page}")
  list(GET page 0 target)
  list(GET page 1 name)
  list(GET page 2 summary)
  list(GET page 3 other)
  # Compressed, as man pages are installed (gzip -n: the same bytes every build).
  set(page_file ${PROJECT_BINARY_DIR}/man/${name}.1)
  set(output ${page_file}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${name}
            "-DSUMMARY=${summary}" -DVERSION=${PROJECT_VERSION} "-DSEE_ALSO=${other}(1)"
            -DOUTPUT=${page_file} -P ${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake
    COMMAND gzip -9nf ${page_file}
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/help_to_man.cmake
    COMMENT "Man page ${name}(1) from ${name} --help" VERBATIM)
  list(APPEND man_pages ${output})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: `cpack --preset deb` after a build of the default preset.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR "MORVANE")
set(CPACK_PACKAGE_CONTACT "MORVANE developers <morvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "serial driver for PLC data blocks over 3964/3964R with RK512, its host tool and simulator")
set(CPACK_PACKAGE_DESCRIPTION
    "libmorvane reads and writes process values in the data blocks of a PLC on a
serial line, with the 3964 or 3964R link procedure and RK512 FETCH and SEND
telegrams, for a supervisory host that drives it through TevMain. The
package holds the driver, a stand-in for the host library, the headers,
pkg-config and CMake files, the command-line host morvane (with a line
monitor) and the PLC simulator plcsim.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A shlibs file, so that a host's own package depends on this one.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)

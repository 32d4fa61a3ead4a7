# `cmake --install`: the programs, their manual page, the xboard plugin file and the documents, laid out
# as Debian lays out chess engines; `cpack` (tools/package.sh) makes the Debian package of the same files.
#   Vorna_1_12_x64, Vorna_1_12_w32           <prefix>/games           (VORNA_INSTALL_GAMESDIR)
#   Vorna_1_12_x64.6.gz, Vorna_1_12_w32.6.gz <prefix>/share/man/man6
#   vorna.eng                                <prefix>/share/games/plugins/xboard
#   README.md, LICENSE                       <prefix>/share/doc/vorna
# The Debian package adds its copyright file and changelog to the doc directory, in place of LICENSE.
set(CMAKE_INSTALL_DOCDIR share/doc/vorna CACHE PATH "Documentation directory (DATAROOTDIR/doc/vorna)")
include(GNUInstallDirs)
set(VORNA_INSTALL_GAMESDIR games CACHE PATH "Directory of the programs (Debian: /usr/games)")

# Manual pages and the changelog are installed compressed, as gzip -9n makes them.
find_program(VORNA_GZIP gzip REQUIRED)
set(VORNA_GZIPPED)
function(vorna_gzip source name)
  set(out ${CMAKE_BINARY_DIR}/gz/${name})
  add_custom_command(OUTPUT ${out}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${out}
    COMMAND ${VORNA_GZIP} -9nf ${out}
    DEPENDS ${source} VERBATIM)
  set(VORNA_GZIPPED ${VORNA_GZIPPED} ${out}.gz PARENT_SCOPE)
endfunction()
vorna_gzip(${PROJECT_SOURCE_DIR}/docs/Vorna_1_12_x64.6 Vorna_1_12_x64.6)
vorna_gzip(${PROJECT_SOURCE_DIR}/docs/Vorna_1_12_w32.6 Vorna_1_12_w32.6)
vorna_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog changelog)
add_custom_target(vorna-gzipped ALL DEPENDS ${VORNA_GZIPPED})

foreach(program Vorna_1_12_x64 Vorna_1_12_w32)
  if(TARGET ${program})
    install(TARGETS ${program} DESTINATION ${VORNA_INSTALL_GAMESDIR} COMPONENT Runtime)
    install(FILES ${CMAKE_BINARY_DIR}/gz/${program}.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6
            COMPONENT Runtime)
  endif()
endforeach()
install(FILES packaging/vorna.eng DESTINATION ${CMAKE_INSTALL_DATADIR}/games/plugins/xboard COMPONENT Runtime)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Licence)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/gz/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT Debian EXCLUDE_FROM_ALL)

# The Debian package: one package of the Runtime and Debian components, its Depends from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorna)
set(CPACK_PACKAGE_CONTACT "Vorna developers <dev@vorna.example>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Debian)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS xboard)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "chess engine for UCI and xboard interfaces
Vorna is a chess engine: a console program that a chess interface starts and
talks to in the Universal Chess Interface (UCI) or in the xboard protocol
(version 2). It searches with iterative-deepening alpha-beta over magic
bitboards and evaluates positions with a small hand-written evaluation.
.
The package installs the 64-bit program Vorna_1_12_x64 with its manual page
and a plugin file through which xboard adds the engine to its list.")
include(CPack)

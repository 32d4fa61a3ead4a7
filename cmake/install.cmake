# `cmake --install`: the programs, their manual pages, the xboard plugin file and the documents, laid out
# as Debian lays out chess engines; `cpack` (tools/package.sh) makes the Debian package of the same files.
#   the build's programs (Vorna_1_12_x64, Vorna_1_12_w32; Vorna_1_12_arm64 or Vorna_1_12_arm32)
#                                            <prefix>/games           (VORNA_INSTALL_GAMESDIR)
#   <program>.6.gz for each                  <prefix>/share/man/man6
#   vorna.eng                                <prefix>/share/games/plugins/xboard
#   README.md, LICENSE                       <prefix>/share/doc/vorna
# The Debian package adds its copyright file and changelog to the doc directory, in place of LICENSE.
# The statically linked programs of VORNA_STATIC are not installed: tools/package.sh puts them in the
# Linux tarball.
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
vorna_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog changelog)

# Each program's manual page is written from docs/vorna.6.in with the program's name in it.
set(VORNA_INSTALLED)
foreach(program ${VORNA_PROGRAM64} ${VORNA_PROGRAM32})
  if(TARGET ${program})
    list(APPEND VORNA_INSTALLED ${program})
    set(VORNA_PAGE_PROGRAM ${program})
    string(TOUPPER ${program} VORNA_PAGE_TITLE)
    configure_file(docs/vorna.6.in ${CMAKE_BINARY_DIR}/man/${program}.6 @ONLY)
    vorna_gzip(${CMAKE_BINARY_DIR}/man/${program}.6 ${program}.6)
    install(TARGETS ${program} DESTINATION ${VORNA_INSTALL_GAMESDIR} COMPONENT Runtime)
    install(FILES ${CMAKE_BINARY_DIR}/gz/${program}.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6
            COMPONENT Runtime)
  endif()
endforeach()
add_custom_target(vorna-gzipped ALL DEPENDS ${VORNA_GZIPPED})

# The plugin file names the first program installed: the 64-bit one where there are two.
list(GET VORNA_INSTALLED 0 VORNA_PLUGIN_PROGRAM)
configure_file(packaging/vorna.eng.in ${CMAKE_BINARY_DIR}/vorna.eng @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vorna.eng DESTINATION ${CMAKE_INSTALL_DATADIR}/games/plugins/xboard
        COMPONENT Runtime)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Runtime)
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Licence)
install(FILES packaging/copyright ${CMAKE_BINARY_DIR}/gz/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT Debian EXCLUDE_FROM_ALL)

# The Debian package: one package of the Runtime and Debian components, its Depends from dpkg-shlibdeps
# (cmake/package-depends.cmake). Its architecture is that of its programs: the build machine's (amd64)
# for the 64-bit x86 program, i386 for the 32-bit one alone, arm64 or armhf for an ARM build.
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
if(VORNA_ARM AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
  set(VORNA_PACKAGE_KIND "64-bit ARM machines (arm64)")
elseif(VORNA_ARM)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
  set(VORNA_PACKAGE_KIND "32-bit ARM machines (ARMv7 with hardware floating point)")
elseif(NOT TARGET ${VORNA_PROGRAM64})
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  set(VORNA_PACKAGE_KIND "32-bit PCs (i686 with SSE2)")
else()
  set(VORNA_PACKAGE_KIND "64-bit PCs (x86-64)")
endif()
list(JOIN VORNA_INSTALLED " and " VORNA_PACKAGE_PROGRAMS)
set(CPACK_VORNA_PROGRAMS)
foreach(program ${VORNA_INSTALLED})
  list(APPEND CPACK_VORNA_PROGRAMS ${CMAKE_BINARY_DIR}/${program})
endforeach()
# Where the programs' libraries are (cmake/package-depends.cmake): Debian's cross libraries for a Linux
# cross build (cmake/linux-cross.cmake), the multilib's for the 32-bit x86 program of a 64-bit compiler.
if(VORNA_CROSS_TRIPLET)
  set(CPACK_VORNA_LIBRARY_DIR /usr/${VORNA_CROSS_TRIPLET}/lib)
elseif(CPACK_DEBIAN_PACKAGE_ARCHITECTURE STREQUAL "i386" AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CPACK_VORNA_LIBRARY_DIR /usr/lib32)
endif()
set(CPACK_VORNA_WORK_DIR ${CMAKE_BINARY_DIR}/shlibdeps)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package-depends.cmake)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS xboard)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "chess engine for UCI and xboard interfaces
Vorna is a chess engine: a console program that a chess interface starts and
talks to in the Universal Chess Interface (UCI) or in the xboard protocol
(version 2). It searches with iterative-deepening alpha-beta over magic
bitboards and evaluates positions with a small hand-written evaluation.
.
The package installs ${VORNA_PACKAGE_PROGRAMS},
the program for ${VORNA_PACKAGE_KIND},
with its manual page and a plugin file through which xboard adds the engine to
its list.")
include(CPack)

# Read by cpack before it makes the Debian package (CPACK_PROJECT_CONFIG_FILE of cmake/install.cmake):
# the package's Depends field, from dpkg-shlibdeps run on the built programs.
#
# cpack's own dpkg-shlibdeps run looks for the libraries of the build machine only. Here it also looks
# where the programs' libraries are:
# - a cross build's programs (arm64, armhf) link against Debian's cross libraries in
#   /usr/<triplet>/lib (CPACK_VORNA_LIBRARY_DIR). Their packages name the library's package on the
#   target machine with an architecture qualifier ("libc6:arm64 (>= 2.36)") or name themselves
#   ("libgcc-s1-armhf-cross (>= 3.5)"): the field gets the plain name (libc6, libgcc-s1).
# - the 32-bit x86 program links against the i386 libraries that g++-<version>-multilib installs in
#   /usr/lib32 (CPACK_VORNA_LIBRARY_DIR, looked at first even where i386 packages are installed too,
#   so that every machine gives the same field). Debian packages them for amd64 under names of their
#   own (libc6-i386, lib32gcc-s1); on an i386 system the same libraries are libc6 and libgcc-s1, with
#   the same symbol versions.
if(NOT CPACK_GENERATOR STREQUAL "DEB" OR NOT CPACK_VORNA_PROGRAMS)
  return()
endif()

set(dir ${CPACK_VORNA_WORK_DIR})
file(REMOVE_RECURSE ${dir})
file(MAKE_DIRECTORY ${dir}/debian)
file(WRITE ${dir}/debian/control "Source: vorna\n\nPackage: vorna\nArchitecture: any\n")
set(command dpkg-shlibdeps -O)
if(CPACK_VORNA_LIBRARY_DIR)
  list(APPEND command -l${CPACK_VORNA_LIBRARY_DIR})
endif()
if(CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  # The host architecture picks the objdump that reads the programs (aarch64-linux-gnu-objdump, ...).
  set(command ${CMAKE_COMMAND} -E env DEB_HOST_ARCH=${CPACK_DEBIAN_PACKAGE_ARCHITECTURE} ${command})
endif()
execute_process(COMMAND ${command} ${CPACK_VORNA_PROGRAMS} WORKING_DIRECTORY ${dir}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
file(REMOVE_RECURSE ${dir})
if(NOT status EQUAL 0 OR NOT out MATCHES "^shlibs:Depends=")
  message(FATAL_ERROR "dpkg-shlibdeps failed on ${CPACK_VORNA_PROGRAMS}:\n${out}\n${err}")
endif()
string(REGEX REPLACE "^shlibs:Depends=" "" depends "${out}")
string(REGEX REPLACE ":[a-z0-9]+( |,|$)" "\\1" depends "${depends}")
string(REGEX REPLACE "-[a-z0-9]+-cross( |,|$)" "\\1" depends "${depends}")
string(REGEX REPLACE "(^|, )libc6-i386( |,|$)" "\\1libc6\\2" depends "${depends}")
string(REGEX REPLACE "(^|, )lib32gcc-s1( |,|$)" "\\1libgcc-s1\\2" depends "${depends}")
string(REPLACE ", " ";" depends "${depends}")
list(SORT depends)  # libc6 first, whichever order dpkg-shlibdeps found the libraries in
list(JOIN depends ", " depends)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${depends}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)

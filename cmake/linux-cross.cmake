# The part the Linux cross builds share (cmake/linux-aarch64.cmake, cmake/linux-armhf.cmake set the
# machine first): Debian's cross compiler <triplet>-g++ and its libraries in /usr/<triplet>.
find_program(VORNA_CROSS_CXX NAMES ${VORNA_CROSS_TRIPLET}-g++ REQUIRED)
set(CMAKE_CXX_COMPILER ${VORNA_CROSS_CXX})

set(CMAKE_FIND_ROOT_PATH /usr/${VORNA_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

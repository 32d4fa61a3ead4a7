# Cross build for 32-bit ARM Linux (armhf: ARMv7 with hardware floating point, e.g. a Raspberry Pi 2 or
# later with a 32-bit system) with Debian's cross compiler g++-arm-linux-gnueabihf, whose defaults
# (ARMv7-A, Thumb-2, VFPv3-D16, hard-float calling convention) are Debian's armhf baseline. Used by
# tools/build-arm.sh:
#   cmake -S . -B build-arm32 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-armhf.cmake
# The programs run here under qemu-user: tools/launch starts them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(VORNA_CROSS_TRIPLET arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

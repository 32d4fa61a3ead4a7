# Cross build for 64-bit ARM Linux (arm64: Raspberry Pi 3 and later with a 64-bit system, ARM servers,
# Android phones) with Debian's cross compiler g++-aarch64-linux-gnu. Used by tools/build-arm.sh:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-aarch64.cmake
# The programs run here under qemu-user: tools/launch starts them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VORNA_CROSS_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

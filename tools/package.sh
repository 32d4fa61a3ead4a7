#!/usr/bin/env bash
# Builds the packages and prints their paths, one a line:
#   build-package/vorna_1.12_amd64.deb      the Debian package of the 64-bit x86 program (cpack, cmake/install.cmake)
#   build-package/vorna_1.12_i386.deb       the 32-bit x86 program
#   build-package/vorna_1.12_arm64.deb      the 64-bit ARM program (tools/build-arm.sh)
#   build-package/vorna_1.12_armhf.deb      the 32-bit ARM program
#   build-package/vorna-1.12-linux.tar.gz   the four programs statically linked, their manual pages,
#                                           read-me and licence
#   build-package/vorna-1.12-windows.zip    both Windows programs (tools/build-windows.sh), read-me and licence
#   build-package/vorna-1.12-web.zip        the web page (tools/build-page.sh): the folder for a web server, the
#                                           single file, the engine files for web developers, read-me, licences
#   build-package/vorna-1.12.0.tgz          the npm package (tools/build-npm.sh, from the same WebAssembly
#                                           build as the web zip)
# Run as root on a fresh Debian machine: installs the compilers, dpkg-dev and file (and Emscripten and
# Node for the npm package) when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

source tools/packages.sh
need_packages package g++ cmake make dpkg-dev file
need_packages package "$(multilib_package)"

out=build-package
mkdir -p "$out"
# Runs a step with its output in a log, shown only when the step fails.
quiet() {
  if ! "$@" >"$out/package-step.log" 2>&1; then
    cat "$out/package-step.log" >&2
    echo "package: failed: $*" >&2
    exit 1
  fi
}

# One Debian package per program: a package carries the programs of its own architecture only (the
# 32-bit x86 program in an amd64 package would need the i386 C library and a kernel that runs 32-bit
# programs). Each build also links its program statically (VORNA_STATIC) for the tarball.
quiet cmake -S . -B "$out/amd64" -DCMAKE_BUILD_TYPE=Release -DVORNA_W32=OFF -DVORNA_TESTS=OFF -DVORNA_STATIC=ON
quiet cmake --build "$out/amd64" -j"$(nproc)"
quiet cmake -S . -B "$out/i386" -DCMAKE_BUILD_TYPE=Release -DVORNA_X64=OFF -DVORNA_TESTS=OFF -DVORNA_STATIC=ON
quiet cmake --build "$out/i386" -j"$(nproc)"
quiet bash tools/build-arm.sh
rm -f "$out"/*.deb
debs=()
for build in "$out/amd64" "$out/i386" build-arm64 build-arm32; do
  quiet cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out"
  arch=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
  debs+=("$out/vorna_1.12_${arch:-$(dpkg --print-architecture)}.deb")
done

# The portable Linux programs: statically linked, stripped by their own machine's strip.
name=vorna-1.12-linux
stage=$out/tar/$name
rm -rf "$out/tar" "$out/$name.tar.gz"
mkdir -p "$stage"
for program in "$out/amd64"/Vorna_1_12_x64 "$out/i386"/Vorna_1_12_w32 build-arm64/Vorna_1_12_arm64 \
               build-arm32/Vorna_1_12_arm32; do
  build=$(dirname "$program")
  base=$(basename "$program")
  strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
  "$strip" -o "$stage/$base" "$build/static/$base"
  cp "$build/man/$base.6" "$stage/"
done
cp packaging/README-linux.txt "$stage/README.txt"
cp LICENSE "$stage/LICENSE.txt"
tar -C "$out/tar" --owner=0 --group=0 --numeric-owner -czf "$out/$name.tar.gz" "$name"

quiet bash tools/build-windows.sh
name=vorna-1.12-windows
stage=$out/zip/$name
rm -rf "$out/zip" "$out/$name.zip"
mkdir -p "$stage"
x86_64-w64-mingw32-strip -o "$stage/Vorna_1_12_x64.exe" build-win64/Vorna_1_12_x64.exe
i686-w64-mingw32-strip -o "$stage/Vorna_1_12_w32.exe" build-win32/Vorna_1_12_w32.exe
sed 's/\r*$/\r/' packaging/README-windows.txt >"$stage/README.txt"
sed 's/\r*$/\r/' LICENSE >"$stage/LICENSE.txt"
(cd "$out/zip" && cmake -E tar cf "../$name.zip" --format=zip "$name")

quiet bash tools/build-page.sh "$out/web" "$out/page"
name=vorna-1.12-web
stage=$out/webzip/$name
rm -rf "$out/webzip" "$out/$name.zip"
mkdir -p "$stage/engine"
cp -r "$out/page" "$stage/page"
rm "$stage/page/vorna.html"
cp "$out/page/vorna.html" "$out/page/LICENSES.txt" "$stage/"
cp "$out/web/vorna.js" "$out/web/vorna-engine.js" "$out/web/vorna-worker.js" "$out/web/vorna-worker-messages.js" \
   "$stage/engine/"
cp packaging/README-web.txt "$stage/README.txt"
(cd "$out/webzip" && cmake -E tar cf "../$name.zip" --format=zip "$name")

quiet bash tools/build-npm.sh "$out/web" "$out"
npm_tarball=$(tail -n 1 "$out/package-step.log")

for deb in "${debs[@]}"; do
  echo "$PWD/$deb"
done
echo "$PWD/$out/vorna-1.12-linux.tar.gz"
echo "$PWD/$out/vorna-1.12-windows.zip"
echo "$PWD/$out/vorna-1.12-web.zip"
echo "$npm_tarball"

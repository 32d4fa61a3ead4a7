#!/usr/bin/env bash
# Builds the packages and prints their paths, one a line:
#   build-package/vorna_1.12_amd64.deb       the Debian package of the 64-bit program (cpack, cmake/install.cmake)
#   build-package/vorna-1.12-windows.zip     both Windows programs (tools/build-windows.sh), read-me and licence
# Run as root on a fresh Debian machine: installs the compiler, dpkg-dev and file when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
for pkg in g++ cmake make dpkg-dev file; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "package: installing ${need[*]}" >&2
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

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
# The Debian package holds the 64-bit program only: the 32-bit one would be a program of another
# architecture in an amd64 package, needing the i386 C library and a kernel that runs 32-bit programs.
quiet cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DVORNA_W32=OFF -DVORNA_TESTS=OFF
quiet cmake --build "$out" -j"$(nproc)"
rm -f "$out"/*.deb
quiet cpack -G DEB --config "$out/CPackConfig.cmake" -B "$out"
deb=$(ls "$out"/vorna_*.deb)

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

echo "$PWD/$deb"
echo "$PWD/$out/$name.zip"

#!/usr/bin/env bash
# Tests the Windows programs under Wine: installs Wine (64- and 32-bit) when it is missing, sets up a
# fresh Wine prefix in a temporary directory, cross-builds both programs (tools/build-windows.sh) and
# runs tests/e2e/test_windows.py against them. Run as root on a Debian machine. On a kernel that does
# not run 32-bit programs only the 64-bit program is tested (one line says so).
#
#   tools/test-windows.sh [LINUX_BUILD_DIR]
#
# The Linux program Vorna_1_12_x64 gives the expected thinking lines: from LINUX_DIR when given (its
# target is brought up to date there), else from a build of its own in build-win-ref/.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
stamp() { echo "== $1 ($(( $(date +%s) - start )) s)"; }

installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ]; }

# Wine runs a 32-bit Windows program as a 32-bit Linux process: where the kernel refuses those, the
# 32-bit program is not run (and 32-bit Wine not installed); every test of the 64-bit one still runs.
win32=(--win32-dir build-win32)
wine_packages=(wine wine64 wine32:i386)
kernel32=$(tools/launch --kernel)
if [ "$kernel32" != yes ]; then
  echo "test-windows: Vorna_1_12_w32.exe not run: this kernel does not run 32-bit programs" \
       "(or VORNA_EMULATE32=1 says so), and Wine needs it to; Vorna_1_12_x64.exe gets every test"
  win32=(--no-win32)
  wine_packages=(wine wine64)
fi

# 32-bit Wine is a package of the i386 architecture, which dpkg has to know first.
if [ "$kernel32" = yes ] && ! installed wine32:i386 && [ "$(id -u)" -eq 0 ] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
source tools/packages.sh
need_packages test-windows "${wine_packages[@]}" python3 g++ cmake make
stamp "Wine installed"

# The Wine that starts the programs (tests/e2e/test_windows.py reads VORNA_WINE). Where 32-bit programs
# cannot run, the 64-bit loader is named outright: "wine" would pick the 32-bit one whenever 32-bit Wine
# happens to be installed.
export VORNA_WINE=wine
if [ "$kernel32" != yes ]; then
  export WINELOADER=/usr/lib/wine/wine64
  VORNA_WINE=$WINELOADER
fi

# A fresh prefix, made after the Wine architectures are installed. No Mono or Gecko: the programs
# are console programs.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
WINEPREFIX=$(mktemp -d /tmp/vorna-wineprefix.XXXXXX)
export WINEPREFIX
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
"$VORNA_WINE" wineboot -i >/dev/null 2>&1
wineserver -w
stamp "Wine prefix $WINEPREFIX ready"

bash tools/build-windows.sh
stamp "Windows programs built"

if [ $# -ge 1 ]; then
  ref=$1
else
  ref=build-win-ref
  cmake -S . -B "$ref" -DCMAKE_BUILD_TYPE=Release -DVORNA_W32=OFF -DVORNA_TESTS=OFF >/dev/null
fi
cmake --build "$ref" -j"$(nproc)" --target Vorna_1_12_x64
stamp "Linux reference program in $ref built"

python3 tests/e2e/test_windows.py --win64-dir build-win64 "${win32[@]}" --linux-build-dir "$ref"
stamp "Windows tests passed"

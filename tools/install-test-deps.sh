#!/bin/sh
# Installs the Debian packages that the build and the tests need, when they are missing.
# Run as root. Safe to run again: it only calls apt-get when a package is not installed.
# Output of apt-get goes to a log file (VORNA_DEPS_LOG, default /tmp/vorna-install-test-deps.log);
# on failure the end of that log is printed and the script exits non-zero.
set -u

# g++-<version>-multilib builds the 32-bit program; g++-multilib itself would conflict with the ARM
# cross compilers.
MULTILIB=g++-$( (g++ -dumpversion 2>/dev/null || echo 12) | cut -d. -f1)-multilib
# qemu-user runs the ARM programs, and the 32-bit x86 program where the kernel does not run 32-bit
# programs (tools/launch).
PACKAGES="g++ $MULTILIB cmake python3 libgtest-dev polyglot xboard xvfb fairymax dpkg-dev lintian man-db qemu-user"
# The WebAssembly programs: Emscripten builds them, Node runs them, Chromium runs the Web Worker (its
# driver comes from npm, tests/browser/package-lock.json). Node and npm count when their commands are
# there, whoever installed them.
PACKAGES="$PACKAGES emscripten chromium"
command -v node >/dev/null 2>&1 || PACKAGES="$PACKAGES nodejs"
command -v npm >/dev/null 2>&1 || PACKAGES="$PACKAGES npm"
LOG=${VORNA_DEPS_LOG:-/tmp/vorna-install-test-deps.log}

missing=""
for pkg in $PACKAGES; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *" installed") ;;
        *) missing="$missing $pkg" ;;
    esac
done

if [ -z "$missing" ]; then
    exit 0
fi

fail() {
    echo "install-test-deps: $1 (log: $LOG)" >&2
    tail -n 30 "$LOG" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    echo "install-test-deps: missing packages:$missing; run this script as root to install them" >&2
    exit 1
fi

echo "install-test-deps: installing$missing" >&2
: > "$LOG" || { echo "install-test-deps: cannot write $LOG" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
apt-get update >> "$LOG" 2>&1 || fail "apt-get update failed"
# shellcheck disable=SC2086  # the package list is meant to be split into words
apt-get install -y --no-install-recommends $missing >> "$LOG" 2>&1 \
    || fail "apt-get install of$missing failed"

for pkg in $missing; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *" installed") ;;
        *) fail "package $pkg is still not installed" ;;
    esac
done
exit 0

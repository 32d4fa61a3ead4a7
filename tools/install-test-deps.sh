#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, when they are missing (the cross
# compilers, Wine and npm's packages come with the scripts that use them). Run as root. Safe to run
# again: it only calls apt-get when a package is not installed; on failure the end of apt-get's log is
# printed and the script exits non-zero.
#
#   tools/install-test-deps.sh [native]     native: only what the native programs' tests need
set -u
cd "$(dirname "$0")/.."
source tools/packages.sh

# qemu-user runs the 32-bit x86 program where the kernel does not run 32-bit programs (tools/launch),
# and the ARM programs.
packages=(g++ cmake python3 libgtest-dev polyglot xboard xvfb fairymax dpkg-dev lintian man-db qemu-user)
if [ "${1:-}" = native ]; then
  need_packages install-test-deps "${packages[@]}" && need_packages install-test-deps "$(multilib_package)"
  exit
fi
# The WebAssembly programs: Emscripten builds them, Node runs them, Chromium and Firefox run the Web
# Worker and the page (their driver comes from npm, tests/browser/package-lock.json). Node and npm
# count when their commands are there, whoever installed them.
packages+=(emscripten chromium firefox-esr)
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)
need_packages install-test-deps "${packages[@]}" && need_packages install-test-deps "$(multilib_package)"

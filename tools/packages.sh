# Sourced by the build and test scripts: installs the Debian packages a script needs, when missing.
#
#   need_packages NAME PACKAGE...     NAME starts the script's messages
#
# A package counts as there when dpkg says "install ok installed". Installing needs root; without it the
# missing packages are named and the call fails. apt-get's output goes to a log whose end is shown only
# when it fails.
need_packages() {
  local who=$1 pkg log
  shift
  local missing=()
  for pkg in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" = "install ok installed" ] || missing+=("$pkg")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$who: missing packages: ${missing[*]}; run as root to install them" >&2
    return 1
  fi
  echo "$who: installing ${missing[*]}" >&2
  log=$(mktemp /tmp/vorna-install.XXXXXX.log)
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
           "${missing[@]}"; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "$who: installing ${missing[*]} failed (log: $log)" >&2
    return 1
  fi
  for pkg in "${missing[@]}"; do
    if [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" != "install ok installed" ]; then
      echo "$who: $pkg is still not installed (log: $log)" >&2
      return 1
    fi
  done
  rm -f "$log"
}

# The package of the 32-bit x86 libraries for this machine's g++ (g++-12-multilib on Debian 12), which
# unlike g++-multilib can be installed beside Debian's ARM cross compilers.
multilib_package() {
  echo "g++-$( (g++ -dumpversion 2>/dev/null || echo 12) | cut -d. -f1)-multilib"
}

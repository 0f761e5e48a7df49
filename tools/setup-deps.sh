#!/usr/bin/env bash
# Installs what building and testing need and is missing, on Debian and as
# root; otherwise names it and goes on (make test then skips the Windows
# leg unless CI=true). Does nothing but a few checks when all is there.
#
#   tools/setup-deps.sh                  check, and install as root
#   tools/setup-deps.sh --windows-ready  exit status 0 when the Windows
#                                        leg's tools are all present
set -euo pipefail

# Tools of the Windows leg: the cross compilers and a Wine that runs 32-bit
# programs (Debian's 32-bit loader comes with wine32).
windows_ready() {
  local tool
  for tool in i686-w64-mingw32-gcc i686-w64-mingw32-g++ \
              i686-w64-mingw32-windres wine wineboot wineserver; do
    command -v "$tool" >/dev/null 2>&1 || return 1
  done
  [[ ! -d /usr/lib/wine || -x /usr/lib/wine/wine ]]
}

if [[ "${1:-}" == --windows-ready ]]; then
  windows_ready
  exit
fi

missing=()
need_command() {  # need_command COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 || missing+=("$2")
}
need_package() {  # need_package PACKAGE
  [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == *" installed" ]] ||
    missing+=("$1")
}

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "setup-deps: not a Debian system; install cmake, g++, make, python3," \
       "GoogleTest/GoogleMock, clang with libFuzzer, mingw-w64 for i686," \
       "32-bit wine, a JDK, util-linux, valgrind, clang-tidy and cppcheck" \
       "yourself" >&2
  exit 0
fi

need_command cmake cmake
need_command g++ g++
need_command make make
need_command python3 python3
need_package libgtest-dev
need_package libgmock-dev
# make fuzz: clang with libFuzzer and the sanitizers' runtimes.
need_command clang clang
need_command clang++ clang
need_package libclang-rt-dev
need_command i686-w64-mingw32-g++ g++-mingw-w64-i686
need_command i686-w64-mingw32-windres binutils-mingw-w64-i686
need_command wine wine
need_package wine32:i386
need_command javac default-jdk-headless
need_command unshare util-linux
need_command setpriv util-linux
# The checks of make test: valgrind over the end-to-end runs, static
# analysis by make lint.
need_command valgrind valgrind
need_command clang-tidy clang-tidy
need_command cppcheck cppcheck

if ((${#missing[@]} == 0)); then
  exit 0
fi
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

# wine32 comes from the i386 architecture, which has to be enabled first.
add_i386=false
if [[ " ${missing[*]} " == *":i386 "* ]] &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  add_i386=true
fi

if ((EUID != 0)); then
  steps="apt-get update && apt-get install ${missing[*]}"
  if $add_i386; then steps="dpkg --add-architecture i386 && $steps"; fi
  echo "setup-deps: missing: ${missing[*]}" >&2
  echo "setup-deps: as root, run tools/setup-deps.sh (or: $steps)" >&2
  exit 0
fi

echo "setup-deps: installing ${missing[*]}"
if $add_i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq </dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null

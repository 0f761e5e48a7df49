#!/usr/bin/env bash
# Which Windows leg this machine can test, decided by running things, not by
# looking at run bits: a kernel without 32-bit support has a 32-bit Wine
# loader that is installed, executable and still cannot start.
#
#   tools/windows-leg.sh            one line, "LEG: why", LEG being i686
#                                   (32-bit programs run under Wine), x86_64
#                                   (only 64-bit ones do) or none
#   tools/windows-leg.sh --kernel   exit status 0 when this kernel runs
#                                   32-bit x86 programs at all
#
# The loaders tried: /usr/lib/wine/wine and /usr/lib/wine/wine64 (Debian),
# else wine and wine64 on PATH; WINE_LOADER_I686 and WINE_LOADER_X86_64 name
# others, and PROBE_32BIT_PROGRAM another program for --kernel (tests use
# them to play a machine that cannot run one or the other).
set -uo pipefail

loader_for() {  # loader_for i686|x86_64
  local name=wine override=${WINE_LOADER_I686:-}
  if [[ $1 == x86_64 ]]; then
    name=wine64 override=${WINE_LOADER_X86_64:-}
  fi
  if [[ -n $override ]]; then
    echo "$override"
  elif [[ -d /usr/lib/wine ]]; then
    # Debian: /usr/bin/wine picks whichever loader is there, so only the
    # loader itself says whether this architecture runs.
    echo "/usr/lib/wine/$name"
  else
    command -v "$name" || echo "$name"
  fi
}

# Runs a program with a time limit; prints why it failed, if it did. Started
# by bash, which says "Exec format error" where execvp would hand a binary it
# cannot run to sh.
runs() {
  local output
  output=$(timeout 120 bash -c '"$@"' probe "$@" 2>&1 </dev/null) &&
    return 0
  output=${output##*$'\n'}
  output=${output#probe: line 1: }
  output=${output#"$1: "}
  echo "${output:-exit status $?}"
  return 1
}

# A 96-byte i386 ELF program that only exits with status 0.
runs_32bit_programs() {
  local program=${PROBE_32BIT_PROGRAM:-} scratch result
  if [[ -z $program ]]; then
    scratch=$(mktemp -d) || return 1
    program=$scratch/exit0
    printf '%b' '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0' \
      '\x54\x80\x04\x08\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0' \
      '\0\0\0\0\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x60\0\0\0' \
      '\x60\0\0\0\x05\0\0\0\0\x10\0\0\x31\xdb\xb8\x01\0\0\0\xcd\x80' \
      '\0\0\0' >"$program"
    chmod +x "$program"
  fi
  "$program" >/dev/null 2>&1
  result=$?
  [[ -n ${scratch:-} ]] && rm -rf "$scratch"
  return $result
}

if [[ ${1:-} == --kernel ]]; then
  runs_32bit_programs
  exit
fi

loader32=$(loader_for i686)
loader64=$(loader_for x86_64)
if why32=$(runs "$loader32" --version); then
  echo "i686: the 32-bit Wine loader runs ($loader32)"
elif why64=$(runs "$loader64" --version); then
  echo "x86_64: the 32-bit Wine loader cannot run here ($loader32: $why32);" \
       "the 64-bit one runs ($loader64)"
else
  echo "none: no Wine loader runs here ($loader32: $why32; $loader64: $why64)"
fi

#!/usr/bin/env bash
# Builds the launchers preset (no tests), lays out a sample installation
# under build/demo (registry file, directories, the stand-in jars of demo/,
# the launchers) and runs tarvo and gorvanel on it against this machine's
# Java VM, showing each command, its output and its exit status.
#
#   tools/demo.sh [BUILD_DIR]   (default: the launchers preset's
#                                build/launchers; a given tree gets its
#                                installation in BUILD_DIR/sample)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if ! command -v java >/dev/null 2>&1 || ! command -v javac >/dev/null 2>&1; then
  echo "demo: needs a JDK (java and javac): install default-jdk-headless" \
       "(tools/setup-deps.sh demo does, as root)" >&2
  exit 1
fi

if (($# > 0)); then
  build=$(cd "$1" && pwd)
  demo=$build/sample
  cmake --build "$build" --target tarvo gorvanel tarvo_jar gorvanel_jar
else
  build=$PWD/build/launchers
  demo=$PWD/build/demo
  cmake --preset launchers
  cmake --build --preset launchers
fi
for jar in tarvo gorvanel; do
  if [[ ! -f $build/demo/$jar.jar ]]; then
    echo "demo: $build/demo/$jar.jar was not built (is the JDK 17 or later?)" >&2
    exit 1
  fi
done

# The Java runtime the launchers are to start: the one `java` runs here.
java_program=$(readlink -f "$(command -v java)")
jre=${java_program%/bin/java}

# The installation. Its directories carry blanks, as they may on Windows.
# Site key: the SAN manager (tarvo); provider key: the information command
# (gorvanel), which takes its Java runtime from the site key.
rm -rf "$demo"
site_opt="$demo/Mgr Opt" site_etc="$demo/Mgr Etc" site_var="$demo/Mgr Var"
info_opt="$demo/Info Opt" info_etc="$demo/Info Etc" info_var="$demo/Info Var"
mkdir -p "$site_opt/bin" "$site_opt/KVXPdkmgr/java/archive" \
         "$site_opt/KVXPdkmgr/lib" "$site_etc/opt/KVXPdkmgr/current" \
         "$site_var/opt/KVXPdkmgr/current" \
         "$info_opt/bin" "$info_opt/java/archive" "$info_etc/etc" \
         "$info_var/var"
cp "$build/bin/tarvo" "$site_opt/bin/tarvo"
printf 'jre=%s\n' "$jre" >"$site_opt/bin/tarvo.ini"
cp "$build/demo/tarvo.jar" "$site_opt/KVXPdkmgr/java/archive/tarvo.jar"
cp "$build/bin/gorvanel" "$info_opt/bin/gorvanel"
cp "$build/demo/gorvanel.jar" "$info_opt/java/archive/gorvanel.jar"
cat >"$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion]
"optPathName"="$site_opt"
"etcPathName"="$site_etc"
"varPathName"="$site_var"
"jrePathName"="$jre"

[HKEY_LOCAL_MACHINE\\Software\\Talvane\\Kestrin-NLX\\Datumwell\\CurrentVersion]
"optPathName"="$info_opt"
"etcPathName"="$info_etc"
"varPathName"="$info_var"
REG

section() { printf '\n=== %s\n' "$1"; }

# A command as one would type it: words with other characters than these
# in single quotes.
shown() {
  local word line=
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./=:@%+,-]+$ ]]; then
      line+=" $word"
    else
      line+=" '${word//\'/\'\\\'\'}'"
    fi
  done
  printf '%s' "${line# }"
}

# Runs a command from the installation's directory: shows it, its output
# (indented) and its exit status with the time it took.
step() {
  local status=0 started output
  printf '\n$ %s\n' "$(shown "$@")"
  started=$EPOCHREALTIME
  output=$("$@" 2>&1) || status=$?
  local elapsed
  elapsed=$(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
  if [[ -n $output ]]; then
    printf '%s\n' "$output" | sed 's/^/  /'
  else
    echo "  (no output)"
  fi
  echo "  [exit status $status, $elapsed s]"
}

section "Sample installation in $demo"
(cd "$demo" && find . -type f | sort | sed 's|^\./|  |')
section "registry.reg (TALVANE_REGISTRY)"
cat "$demo/registry.reg"
section "Mgr Opt/bin/tarvo.ini"
cat "$site_opt/bin/tarvo.ini"

cd "$demo"
export TALVANE_REGISTRY=$demo/registry.reg
unset CLASSPATH LIB
printf '\n$ cd %s\n$ export TALVANE_REGISTRY=%s\n' "$(shown "$demo")" \
  "$(shown "$TALVANE_REGISTRY")"

section "tarvo: the SAN manager class shows what it was started with"
step "Mgr Opt/bin/tarvo" list "pool 1"

section "gorvanel: information records (a line each: key and parameters, tab-separated)"
gorvanel="Info Opt/bin/gorvanel"
if ! id -G | tr ' ' '\n' | grep -qx 0; then
  step "$gorvanel" -l
  echo
  echo "gorvanel admits only members of the Administrators group, for which" \
       "group id 0 stands on Linux, and $(id -un) is not in it:" \
       "run make demo as root to see the records added, shown and deleted."
  exit 0
fi
step "$gorvanel" -a array01 "Rack 4, row B" 10.0.0.21 owner=storage
step "$gorvanel" -a array02 "Rack 7" 10.0.0.37
step "$gorvanel" -l array01
step "$gorvanel" -l
step "$gorvanel" -d array01
step "$gorvanel" -l array01
step "$gorvanel" -x array02
# What is left on disk: no records.txt.new, which each change renames.
step ls -A "Info Var/var/gorvanel"
step cat "Info Var/var/gorvanel/records.txt"

if ((EUID == 0)) && command -v setpriv >/dev/null 2>&1 &&
   id nobody >/dev/null 2>&1 && getent group nogroup >/dev/null; then
  section "gorvanel run by a user outside the Administrators group"
  # A copy of its own, as nobody may not enter the checkout (a home
  # directory of mode 700, say).
  outside=$(mktemp -d)
  chmod 755 "$outside"
  cp "$gorvanel" "$outside/gorvanel"
  step setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$outside/gorvanel" -l
  rm -rf "$outside"
  echo
  echo "The user nobody is not in group id 0, Linux's stand-in for the" \
       "Administrators group, so gorvanel refuses before it reads anything."
fi

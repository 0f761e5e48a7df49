#!/usr/bin/env bash
# Builds the native preset, lays out a sample installation under build/demo
# and runs tarvo on it with a stub in place of the Java VM, showing what the
# VM would have been started with.
#
#   tools/demo.sh [BUILD_DIR]   (default: the native preset's build/native;
#                                a given tree gets its demo in BUILD_DIR/demo)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if (($# > 0)); then
  build=$(cd "$1" && pwd)
  demo=$build/demo
  cmake --build "$build" --target tarvo stub_java
else
  build=$PWD/build/native
  demo=$PWD/build/demo
  cmake --preset native
  cmake --build --preset native
fi

# The installation: its directories carry blanks, as they may on Windows.
rm -rf "$demo"
opt="$demo/Mgr Opt" etc="$demo/Mgr Etc" var="$demo/Mgr Var" jre="$demo/Mgr Jre"
mkdir -p "$opt/bin" "$etc" "$var" "$jre/bin"
cp "$build/bin/tarvo" "$opt/bin/tarvo"
cp "$build/e2e/stub_java" "$jre/bin/java"
printf 'jre=%s\n' "$jre" >"$opt/bin/tarvo.ini"
cat >"$demo/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvane\\Vantrel_Capacity_Steward\\Site\\CurrentVersion]
"optPathName"="$opt"
"etcPathName"="$etc"
"varPathName"="$var"
REG

section() { printf '\n=== %s\n' "$1"; }
section "registry ($demo/registry.reg)"
cat "$demo/registry.reg"
section "$opt/bin/tarvo.ini"
cat "$opt/bin/tarvo.ini"

section "running"
export TALVANE_REGISTRY="$demo/registry.reg" STUB_JAVA_RECORD="$demo/java-record"
printf '$ TALVANE_REGISTRY=%q %q list %q\n' "$TALVANE_REGISTRY" "$opt/bin/tarvo" "pool 1"
status=0
"$opt/bin/tarvo" list "pool 1" || status=$?

section "what the Java VM (a stub) received"
python3 e2e/harness.py show-records "$STUB_JAVA_RECORD"
section "tarvo's exit status: $status"

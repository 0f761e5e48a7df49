#!/usr/bin/env bash
# Static analysis of the programs' code: platform/, tarvo/ and gorvanel/,
# their tests left out (GoogleTest's macros are not ours to fix). Any
# finding fails.
#
#   tools/lint.sh [BUILD_DIR]   BUILD_DIR: a configured native tree with
#                               compile_commands.json (default build/native)
#
# clang-tidy runs the checks of .clang-tidy over the Linux sources with the
# native tree's compile commands, and over platform/win32 with the headers
# of the mingw-w64 cross compiler (skipped without it, except in CI). Then
# cppcheck looks at all of them. Suppress a false finding where it stands,
# with its reason: // NOLINT(check) or // cppcheck-suppress id.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build/native}

if [[ ! -f $build/compile_commands.json ]]; then
  echo "lint: $build/compile_commands.json is missing: run cmake --preset native" >&2
  exit 1
fi
clang_tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [[ -z $clang_tidy ]] || ! command -v cppcheck >/dev/null; then
  echo "lint: clang-tidy and cppcheck are needed (tools/setup-deps.sh)" >&2
  exit 1
fi

linux_sources=()
for source in platform/*.cpp platform/posix/*.cpp tarvo/*.cpp gorvanel/*.cpp; do
  [[ $source == *_test.cpp ]] || linux_sources+=("$source")
done
windows_sources=(platform/win32/*.cpp)
status=0

# tidy FILE... [-- COMPILER ARGUMENTS]: one file per clang-tidy run, as
# the analyzer of clang-tidy 14 carries state from one file to the next and
# then misses the va_start of the second. The count of warnings suppressed
# in system headers is dropped.
tidy() {
  local files=()
  while (($# > 0)) && [[ $1 != -- ]]; do files+=("$1"); shift; done
  printf '%s\0' "${files[@]}" |
    xargs -0 -I{} -P2 "$clang_tidy" --quiet "${tidy_options[@]}" {} "$@" 2>&1 |
    { grep -v '^[0-9]* warnings\? generated\.$' || true; }
  return "${PIPESTATUS[1]}"
}

echo "lint: clang-tidy, ${#linux_sources[@]} Linux sources"
tidy_options=(-p "$build")
tidy "${linux_sources[@]}" || status=1

cross=i686-w64-mingw32-g++
if command -v "$cross" >/dev/null; then
  echo "lint: clang-tidy, ${#windows_sources[@]} Windows sources"
  # The cross compiler's own search list: clang does not find it alone.
  mapfile -t system_dirs < <(echo | "$cross" -std=c++17 -E -x c++ - -v 2>&1 |
    sed -n '/^#include <...> search starts here:/,/^End of search list/p' |
    sed -n 's/^ //p')
  tidy_options=()
  compile=(--target=i686-w64-mingw32 -std=c++17 -nostdinc -I.)
  for dir in "${system_dirs[@]}"; do compile+=(-isystem "$dir"); done
  tidy "${windows_sources[@]}" -- "${compile[@]}" || status=1
elif [[ "${CI:-}" == true ]]; then
  echo "lint: $cross is missing; CI=true needs the Windows sources checked" >&2
  status=1
else
  echo "lint: $cross is missing: Windows sources not checked by clang-tidy"
fi

echo "lint: cppcheck"
cppcheck --quiet --enable=warning,portability,performance --error-exitcode=1 \
  --inline-suppr --std=c++17 --language=c++ -I . \
  --template='{file}:{line}: {severity}: {message} [{id}]' \
  "${linux_sources[@]}" "${windows_sources[@]}" || status=1

if ((status != 0)); then
  echo "lint: findings above" >&2
else
  echo "lint: clean"
fi
exit "$status"

#!/usr/bin/env bash
# Runs the fuzz targets of a build one after the other, each for
# FUZZ_SECONDS (default 300) over a scratch copy of its seed corpus, so that
# what a run adds stays out of the repository; then prints each target's
# executions and coverage. Exits 1 when a target found something: its log
# and the input that broke it are named.
#
#   fuzz/run_fuzzers.sh BUILD_DIR [TARGET...]     (default: every target)
set -uo pipefail

build=${1:?usage: fuzz/run_fuzzers.sh BUILD_DIR [TARGET...]}
shift
seconds=${FUZZ_SECONDS:-300}
fuzz_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "$fuzz_dir"/*_fuzzer.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

# tarvo's command line holds 8191 characters: its inputs need room to
# reach that limit.
max_len() {
  case $1 in
    tarvo_command_fuzzer) echo 12288 ;;
    *) echo 4096 ;;
  esac
}

# The last value that libFuzzer reported for `field` ("cov:", "ft:").
last_value() {
  grep -o "$1 [0-9]*" "$2" | tail -n 1 | awk '{print $2}'
}

failed=()
summary=()
for target in "${targets[@]}"; do
  program=$build/bin/$target
  work=$build/fuzz-work/$target
  if [[ ! -x $program ]]; then
    echo "run_fuzzers: $program is missing: build the fuzz preset first" >&2
    exit 2
  fi
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$fuzz_dir/corpus/$target"/* "$work/corpus/"
  echo "run_fuzzers: $target for ${seconds} s"
  "$program" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=25 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" >"$work/log" 2>&1
  status=$?
  executions=$(last_value 'stat::number_of_executed_units:' "$work/log")
  summary+=("$(printf '%-26s executions %10s   cov %5s   ft %6s' "$target" \
    "${executions:-?}" "$(last_value 'cov:' "$work/log")" \
    "$(last_value 'ft:' "$work/log")")")
  if ((status != 0)); then
    failed+=("$target")
    tail -n 40 "$work/log"
    echo "run_fuzzers: $target failed; log $work/log, input in $work/artifacts/" >&2
  fi
done

printf '%s\n' "${summary[@]}"
if ((${#failed[@]} > 0)); then
  echo "run_fuzzers: failed: ${failed[*]}" >&2
  exit 1
fi

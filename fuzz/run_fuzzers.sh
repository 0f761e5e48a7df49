#!/usr/bin/env bash
# Runs the fuzz targets of a build, FUZZ_JOBS at a time (default: one per
# processor), each for FUZZ_SECONDS (default 300) over a scratch copy of its
# seed corpus, so that
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

# One target's run; its summary line in $work/summary, its status in
# $work/status.
run_target() {
  local target=$1 program=$build/bin/$1 work=$build/fuzz-work/$1 status
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$fuzz_dir/corpus/$target"/* "$work/corpus/"
  "$program" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
    -timeout=25 -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" >"$work/log" 2>&1
  status=$?
  printf '%-26s executions %10s   cov %5s   ft %6s\n' "$target" \
    "$(last_value 'stat::number_of_executed_units:' "$work/log")" \
    "$(last_value 'cov:' "$work/log")" "$(last_value 'ft:' "$work/log")" \
    >"$work/summary"
  echo "$status" >"$work/status"
}

for target in "${targets[@]}"; do
  if [[ ! -x $build/bin/$target ]]; then
    echo "run_fuzzers: $build/bin/$target is missing: build the fuzz preset first" >&2
    exit 2
  fi
done

jobs=${FUZZ_JOBS:-$(nproc)}
running=0
for target in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n
    ((running--))
  fi
  echo "run_fuzzers: $target for ${seconds} s"
  run_target "$target" &
  ((running++))
done
wait

failed=()
for target in "${targets[@]}"; do
  work=$build/fuzz-work/$target
  cat "$work/summary"
  if [[ $(cat "$work/status") != 0 ]]; then
    failed+=("$target")
    tail -n 40 "$work/log"
    echo "run_fuzzers: $target failed; log $work/log, input in $work/artifacts/" >&2
  fi
done

if ((${#failed[@]} > 0)); then
  echo "run_fuzzers: failed: ${failed[*]}" >&2
  exit 1
fi

#!/usr/bin/env bash
# The long fuzzing run (not CI): each target in turn for SECONDS (default 160), with a
# growing corpus kept in the build folder, and a summary of runs and coverage at the end.
# Usage: fuzz/run-long.sh [build-dir] [seconds-per-target] [target...]
# TARNWICK_FUZZ_SKIP_KNOWN=1 steps around the faults already saved under fuzz/crashes.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-fuzz}"
seconds="${2:-160}"
shift $(( $# >= 2 ? 2 : $# ))
targets=("$@")
((${#targets[@]})) || targets=(line_scanner_fuzzer tag_scanner_fuzzer message_converter_fuzzer mbox_converter_fuzzer)

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWICK_FUZZ=ON -DTARNWICK_BUILD_GUI=OFF -DTARNWICK_BUILD_TESTS=OFF >/dev/null || exit 1
fi
ninja -C "$build" fuzz_targets >/dev/null || exit 1

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
out="$build/fuzz/long"
mkdir -p "$out"
summary="$out/summary.txt"
: >"$summary"
for target in "${targets[@]}"; do
  corpus="$out/corpus-$target"
  mkdir -p "$corpus"
  log="$out/$target.log"
  started=$SECONDS
  "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
    -dict="$root/fuzz/eudora.dict" -artifact_prefix="$out/$target-" "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  persec=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  cov=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+')
  line="$target: exit $status, $((SECONDS - started)) s, ${execs:-?} runs (${persec:-?}/s), $cov"
  echo "$line" | tee -a "$summary"
done

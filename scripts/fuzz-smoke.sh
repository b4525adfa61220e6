#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each one for a few
# seconds on its seed corpus, after replaying the saved crash inputs of that target.
# Usage: scripts/fuzz-smoke.sh [build-dir] [seconds-per-target]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-fuzz}"
seconds="${2:-10}"
targets=(line_scanner_fuzzer tag_scanner_fuzzer message_converter_fuzzer mbox_converter_fuzzer toc_index_fuzzer mac_toc_fuzzer descmap_fuzzer attachment_fuzzer)
targets+=(encoder_differential_fuzzer transcode_differential_fuzzer)
targets+=(header_encoder_fuzzer upload_names_fuzzer attachment_folder_fuzzer)
targets+=(maildir_marks_fuzzer profiles_ini_fuzzer prefs_js_fuzzer eudora_ini_fuzzer)
targets+=(rich_text_fuzzer imap_answers_fuzzer)

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  echo "fuzz-smoke: installing clang and its fuzzer runtime"
  apt-get install -y clang libclang-rt-14-dev llvm >/dev/null 2>&1 \
    || { apt-get update >/dev/null && apt-get install -y clang libclang-rt-14-dev llvm >/dev/null; }
fi

start=$SECONDS
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARNWICK_FUZZ=ON -DTARNWICK_BUILD_GUI=OFF -DTARNWICK_BUILD_TESTS=OFF >/dev/null
fi
ninja -C "$build" fuzz_targets >/dev/null
echo "fuzz-smoke: built in $((SECONDS - start)) s"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
failed=0
for target in "${targets[@]}"; do
  binary="$build/fuzz/$target"
  work="$(mktemp -d)"
  log="$build/fuzz/$target.smoke.log"
  replay=()
  for crash in "$root"/fuzz/crashes/"${target%_fuzzer}"-*; do
    [[ -f "$crash" ]] && replay+=("$crash")
  done
  status=0
  if ((${#replay[@]})); then
    "$binary" "${replay[@]}" >"$log" 2>&1 || status=$?
  fi
  if ((status == 0)); then
    # -timeout: an input that runs for 30 s is a hang to report, not one to wait 20 minutes for.
    "$binary" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 -dict="$root/fuzz/eudora.dict" \
      -artifact_prefix="$build/fuzz/$target-" "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  fi
  rm -rf "$work"
  if ((status != 0)); then
    echo "fuzz-smoke: $target FAILED (exit $status), log: $log"
    grep -E "ERROR|runtime error|check failed|SUMMARY" "$log" | head -5 || true
    failed=1
  else
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz-smoke: $target ok: ${execs:-?} runs, $(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')"
  fi
done
echo "fuzz-smoke: total $((SECONDS - start)) s"
exit $failed

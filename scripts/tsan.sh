#!/usr/bin/env bash
# ThreadSanitizer build of the batch-job, command-line, hardening and window tests
# (the cancel flag, the posts to the UI thread, the charset candidate slot), run with
# every report fatal.
# Usage: scripts/tsan.sh [build-dir]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-tsan}"
jobs=$(nproc)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_TSAN=ON >/dev/null
targets=()
for target in tests_batch tests_cli tests_hardening tests_app tarnwick-cli; do
  if ninja -C "$build" -t query "$target" >/dev/null 2>&1; then
    targets+=("$target")
  fi
done
ninja -C "$build" -j "$jobs" "${targets[@]}"

# halt_on_error: a race fails the test that shows it. second_deadlock_stack helps
# reading lock-order reports. The kernel's address-space randomisation can clash
# with TSan's fixed layout; run without it when that happens.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 history_size=4}"
export QT_QPA_PLATFORM=offscreen
runner=()
if ! "$build/cli/tarnwick-cli" --version >/dev/null 2>&1; then
  runner=(setarch "$(uname -m)" -R)
fi
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j "$jobs" -L '^(batch|cli|hardening|app)$'

#!/usr/bin/env bash
# ThreadSanitizer build of the batch-job, command-line, hardening and window tests
# (the cancel flag, the posts to the UI thread, the charset candidate slot) and of the
# mailbox conversion on two threads and in two parts at once, run with every report fatal.
# Usage: scripts/tsan.sh [build-dir]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-tsan}"
jobs=$(nproc)

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNWICK_TSAN=ON >/dev/null
targets=()
for target in tests_batch tests_cli tests_hardening tests_app tests_engine tarnwick-cli; do
  if ninja -C "$build" -t query "$target" >/dev/null 2>&1; then
    targets+=("$target")
  fi
done
ninja -C "$build" -j "$jobs" "${targets[@]}"

# halt_on_error: a race fails the test that shows it. ignore_noninstrumented_modules:
# Qt locks its QMutex with futexes and glibc guards tzset with an internal lock, and
# TSan sees neither, so the hand-overs inside those uninstrumented libraries (thread
# pool tasks, queued events, mktime) would be reported as races; accesses made by our
# own code are still all checked.
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1}"
export QT_QPA_PLATFORM=offscreen
# The kernel's address-space randomisation can clash with TSan's fixed layout; run
# without it when the program does not even start.
runner=()
if ! "$build/cli/tarnwick-cli" --version >/dev/null 2>&1; then
  runner=(setarch "$(uname -m)" -R)
fi
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j "$jobs" -L '^(batch|cli|hardening|app)$'
"${runner[@]}" ctest --test-dir "$build" --output-on-failure -j "$jobs" -R '^(ParallelConversionTest|SplitConversionTest|MboxConverterTest|MboxAttachmentsTest)\.'

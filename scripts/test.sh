#!/usr/bin/env bash
# Installs the dependencies, checks the sources' idiom (scripts/check-idiom.sh) and that
# every mutant of scripts/mutate.py still applies to the sources, builds everything and runs every test; then the same
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, a short run of
# each fuzz target, and the threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-idiom.sh
python3 scripts/mutate.py --check
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

if [ "${TARNWICK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_SANITIZE=ON
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"
fi

if [ "${TARNWICK_SKIP_FUZZ:-0}" != 1 ]; then
  scripts/fuzz-smoke.sh build-fuzz 10
fi

if [ "${TARNWICK_SKIP_TSAN:-0}" != 1 ]; then
  scripts/tsan.sh build-tsan
fi

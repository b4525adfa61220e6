#!/bin/sh
# Builds the benchmark in an optimised build directory and runs it.
#   bench/run.sh [BUILD_DIR] [tarnwick-bench options...]
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
[ $# -gt 0 ] && shift
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BUILD_GUI=OFF -DTARNWICK_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" tarnwick-bench
exec "$build/bench/tarnwick-bench" "$@"

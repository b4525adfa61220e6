#!/usr/bin/env bash
# Builds Tarnwick and runs it: the window when a display is available, otherwise the
# command line on the bundled sample mailbox folder, showing what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/app/tarnwick ]; then
  exec build/app/tarnwick
fi

out=$(mktemp -d /tmp/tarnwick-sample.XXXXXX)
echo "No display: converting resources/samples/Eudora into $out"
build/cli/tarnwick-cli resources/samples/Eudora "$out"
echo
ls -l "$out"
for f in "$out"/*; do
  echo "==> $f <=="
  head -n 12 "$f" | tr -d '\r'
done

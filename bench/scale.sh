#!/bin/bash
# CPU time of whole tarnwick-cli jobs whose work must grow linearly with their size:
#   folder   N mailboxes of one message each in one folder (attachment search per mailbox)
#   lines    one mailbox of N messages each naming a deleted attachment, N files kept in attach/
#   samename N mailboxes that descmap.pce gives one display name (outputs numbered)
# Prints one line per case and size: user+system seconds and microseconds per item.
#   bench/scale.sh TARNWICK_CLI [CASES] [SIZES]
#   e.g. bench/scale.sh build/cli/tarnwick-cli "folder lines samename" "10000 20000 40000"
set -euo pipefail
cli=$1; cases=${2:-folder lines samename}; sizes=${3:-10000 20000 40000}
base=/tmp; [ -d /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/tarnwick-scale.XXXXXX"); trap 'rm -rf "$work"' EXIT
export HOME=$work
separator='From ???@??? Mon Dec 13 18:45:29 2010'

make_case() { # KIND N DIR
  local kind=$1 n=$2 dir=$3
  mkdir -p "$dir/Eudora/attach"
  : >"$dir/Eudora/Eudora.ini"
  case $kind in
  folder)
    python3 - "$dir/Eudora" "$n" "$separator" <<'PY'
import sys
d, n, sep = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for i in range(n):
    with open(f"{d}/box{i}.mbx", "w", newline="") as f:
        f.write(f"{sep}\r\nSubject: {i}\r\n\r\nText.\r\nAttachment Converted: \"c:\\eudora\\attach\\gone{i}.doc\"\r\n")
PY
    ;;
  lines)
    python3 - "$dir/Eudora" "$n" "$separator" <<'PY'
import sys
d, n, sep = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(f"{d}/In.mbx", "w", newline="") as f:
    for i in range(n):
        f.write(f"{sep}\r\nSubject: {i}\r\n\r\nText.\r\nAttachment Converted: \"c:\\eudora\\attach\\deleted{i}.doc\"\r\n")
for i in range(n):
    open(f"{d}/attach/kept{i}.dat", "w").close()
PY
    ;;
  samename)
    python3 - "$dir/Eudora" "$n" "$separator" <<'PY'
import sys
d, n, sep = sys.argv[1], int(sys.argv[2]), sys.argv[3]
with open(f"{d}/descmap.pce", "w", newline="") as m:
    for i in range(n):
        m.write(f"Same,f{i}.mbx,S,N\r\n")
        with open(f"{d}/f{i}.mbx", "w", newline="") as f:
            f.write(f"{sep}\r\nSubject: {i}\r\n\r\nText.\r\n")
PY
    ;;
  esac
}

for kind in $cases; do
  for n in $sizes; do
    rm -rf "$work/case" "$work/out"; mkdir -p "$work/case" "$work/out"
    make_case "$kind" "$n" "$work/case"
    /usr/bin/time -f "%U %S" -o "$work/time" "$cli" "$work/case/Eudora" "$work/out" >/dev/null 2>&1 || true
    read -r user sys <"$work/time"
    outputs=$(find "$work/out" -type f | wc -l)
    awk -v k="$kind" -v n="$n" -v u="$user" -v s="$sys" -v o="$outputs" \
      'BEGIN { t = u + s; printf "%-9s %7d items  %8.2f s CPU  %7.1f us/item  (%d outputs)\n", k, n, t, t * 1e6 / n, o }'
  done
done

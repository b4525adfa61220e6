#!/bin/bash
# Peak memory and speed of putting attachments back, whole-process:
#  1. a mailbox whose one message names a SIZE_MIB file of random bytes: the peak
#     resident set must stay under 64 MiB, and the part must decode to the file;
#  2. CORPUS (a gen_corpus.py mailbox, attachment lines removed) converted with
#     --attachments and --no-attachments, alternating, REPEAT times: median seconds.
#   bench/attachments.sh TARNWICK_CLI [SIZE_MIB] [CORPUS] [REPEAT]
set -euo pipefail
cli=$1; size=${2:-1024}; corpus=${3:-}; repeat=${4:-7}
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
export HOME=$work
mkdir -p "$work/Eudora/attach"
head -c $((size * 1048576)) /dev/urandom >"$work/Eudora/attach/big.bin"
printf 'From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: Big\r\n\r\nText.\r\nAttachment Converted: "c:\\eudora\\attach\\big.bin"\r\n' >"$work/Eudora/In.mbx"
/usr/bin/time -f "%M" -o "$work/rss" "$cli" "$work/Eudora/In.mbx" "$work/out" >/dev/null 2>&1
rss=$(cat "$work/rss")
python3 - "$work/out" "$work/Eudora/attach/big.bin" <<'PY'
import base64, hashlib, sys
h = hashlib.sha256(); inside = False
with open(sys.argv[1], 'rb') as f:
    for line in f:
        s = line.rstrip(b'\r\n')
        if s.startswith(b'Content-Disposition: attachment'): inside = 'header'; continue
        if inside == 'header' and not s: inside = 'body'; continue
        if inside == 'body':
            if s.startswith(b'--'): break
            h.update(base64.b64decode(s))
same = h.hexdigest() == hashlib.sha256(open(sys.argv[2], 'rb').read()).hexdigest()
print('attachment decodes to the file:', 'yes' if same else 'NO'); sys.exit(0 if same else 1)
PY
echo "attachment of $size MiB: peak resident set $((rss / 1024)) MiB (limit 64)"
[ "$rss" -lt $((64 * 1024)) ] || { echo "FAIL: over 64 MiB"; exit 1; }
[ -n "$corpus" ] || exit 0
for mode in --no-attachments --attachments; do : >"$work/times$mode"; done
for _ in $(seq "$repeat"); do
  for mode in --no-attachments --attachments; do
    rm -f "$work/o"
    /usr/bin/time -f "%e" -a -o "$work/times$mode" "$cli" "$mode" "$corpus" "$work/o" >/dev/null 2>&1
  done
done
off=$(sort -n "$work/times--no-attachments" | sed -n "$(((repeat + 1) / 2))p")
on=$(sort -n "$work/times--attachments" | sed -n "$(((repeat + 1) / 2))p")
echo "corpus: --no-attachments ${off} s, --attachments ${on} s (medians of $repeat), ratio $(echo "scale=3; $on / $off" | bc)"

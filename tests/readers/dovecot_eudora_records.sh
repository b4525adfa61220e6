#!/usr/bin/env bash
# Eudora's records as Dovecot reads them: a crafted Windows Eudora folder (folder map,
# a .fol folder, short names, indexes with read/replied/forwarded marks and a body line
# beginning "From ") converted with --layout tree; doveadm must find each mailbox under
# its real name, each message whole, and the \Seen and \Answered flags of the index.
# Usage: dovecot_eudora_records.sh TARNWICK_CLI (exit 77: doveadm not installed).
set -euo pipefail
cli="$1"
command -v doveadm >/dev/null || { echo "dovecot_eudora_records: doveadm not installed"; exit 77; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mail" "$work/run" "$work/state" "$work/config" "$work/src/WORK.FOL"
source "$(dirname "$0")/dovecot_settings.sh"
cat >"$work/dovecot.conf" <<CONF
mail_location = mbox:$work/mail:INBOX=$work/inbox
$(dovecot_shared_settings)
CONF
: >"$work/inbox"

python3 - "$work/src" <<'PY'
import struct, sys
src = sys.argv[1]
def message(subject, body):
    return (b"From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: " + subject + b"\r\nStatus:   \r\n"
            b"Date: Mon, 13 Dec 2010 18:45:29 -0600\r\n\r\n" + body + b"\r\n")
def mailbox(path, messages):
    data, records, offset = b"", [], 0
    for subject, body, status in messages:
        m = message(subject, body)
        records.append((offset, len(m), status))
        data += m
        offset += len(m)
    toc = bytearray(104 + 218 * len(records))
    struct.pack_into("<H", toc, 102, len(records))
    for i, (o, l, s) in enumerate(records):
        struct.pack_into("<IIIHHH", toc, 104 + 218 * i, o, l, 0, s, 0, 3)
    open(path + ".MBX", "wb").write(data)
    open(path + ".TOC", "wb").write(bytes(toc))
mailbox(src + "/IN", [(b"read", b"From what I hear, it works.", 1), (b"replied", b"x", 2), (b"new", b"y", 0)])
mailbox(src + "/WORK.FOL/PROJECTA", [(b"forwarded", b"From here on, one message.\r\nFrom there too.", 3)])
open(src + "/descmap.pce", "wb").write(b"In,IN.MBX,S,Y\r\nWork,WORK.FOL,F,N\r\n")
open(src + "/WORK.FOL/descmap.pce", "wb").write(b"Project Alpha,PROJECTA.MBX,M,N\r\n")
PY

XDG_CONFIG_HOME="$work/config" HOME="$work" "$cli" --layout tree "$work/src" "$work/mail" >/dev/null 2>"$work/cli.err" \
  || { echo "conversion failed: $(cat "$work/cli.err")"; exit 1; }
[[ $(id -u) == 0 ]] && chown -R "$uid:$gid" "$work"

failed=0
check() { # mailbox, expected "subject flags" lines
  local got
  got=$(USER=tester HOME="$work" doveadm -c "$work/dovecot.conf" fetch 'hdr.subject flags' mailbox "$1" 2>"$work/doveadm.err" \
    | awk '/^hdr.subject:/ {s=$2} /^flags:/ {sub(/^flags: */, ""); print s " " $0}' || true)
  if [[ "$got" != "$2" ]]; then
    echo "FAIL $1: Dovecot reads"$'\n'"$got"$'\n'"expected"$'\n'"$2 ($(head -c 300 "$work/doveadm.err"))"
    failed=1
  else
    echo "ok   $1: $(echo "$got" | wc -l) messages, flags as indexed"
  fi
}
check "In.MBX" $'read \\Seen\nreplied \\Answered \\Seen\nnew '
check "Work/Project Alpha.MBX" $'forwarded \\Seen'
exit $failed

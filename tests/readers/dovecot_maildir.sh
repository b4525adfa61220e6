#!/usr/bin/env bash
# Maildir output as Dovecot reads it: a crafted Windows Eudora folder (folder map, a
# .fol folder whose name holds "&" and an accent, indexes with read, replied and
# forwarded marks, a body line beginning "From ", CR LF lines) converted with
# --format maildir in both layouts (Maildir++ and --layout tree read with LAYOUT=fs and UTF-8 names);
# doveadm must find each mailbox under its real name, each message whole with its
# flags, and its received date from the separator line.
# Usage: dovecot_maildir.sh TARNWICK_CLI (exit 77: doveadm not installed).
set -euo pipefail
cli="$1"
command -v doveadm >/dev/null || { echo "dovecot_maildir: doveadm not installed"; exit 77; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/run" "$work/state" "$work/config" "$work/src/WORK.FOL"
source "$(dirname "$0")/dovecot_settings.sh"

python3 - "$work/src" <<'PY'
import struct, sys
src = sys.argv[1]
def message(subject, body, date):
    return (b"From ???@??? " + date + b"\r\nSubject: " + subject + b"\r\nStatus:   \r\n"
            b"Date: Mon, 13 Dec 2010 18:45:29 -0600\r\n\r\n" + body + b"\r\n")
def mailbox(path, messages):
    data, records, offset = b"", [], 0
    for subject, body, status, date in messages:
        m = message(subject, body, date)
        records.append((offset, len(m), status))
        data += m
        offset += len(m)
    toc = bytearray(104 + 218 * len(records))
    struct.pack_into("<H", toc, 102, len(records))
    for i, (o, l, s) in enumerate(records):
        struct.pack_into("<IIIHHH", toc, 104 + 218 * i, o, l, 0, s, 0, 3)
    open(path + ".MBX", "wb").write(data)
    open(path + ".TOC", "wb").write(bytes(toc))
mailbox(src + "/IN", [(b"read", b"From what I hear, it works.", 1, b"Mon Dec 13 18:45:29 2010"),
                      (b"replied", b"x", 2, b"Tue Feb  1 08:00:00 2005"),
                      (b"new", b"y", 0, b"Sat Jan  1 00:00:01 2000")])
mailbox(src + "/WORK.FOL/PROJECTA", [(b"forwarded", b"From here on, one message.\r\nFrom there too.", 3,
                                      b"Wed Jul  4 12:30:00 2001")])
open(src + "/descmap.pce", "wb").write("In,IN.MBX,S,Y\r\nWörk & Play,WORK.FOL,F,N\r\n".encode())
open(src + "/WORK.FOL/descmap.pce", "wb").write(b"Project Alpha,PROJECTA.MBX,M,N\r\n")
PY

failed=0
check() { # config, mailbox, expected "subject received-date flags" lines
  local got
  got=$(USER=tester HOME="$work" TZ=UTC doveadm -c "$1" fetch 'hdr.subject date.received flags' mailbox "$2" 2>"$work/doveadm.err" \
    | awk '/^hdr.subject:/ {s=$2} /^date.received:/ {d=$2 "T" $3} /^flags:/ {sub(/^flags: */, ""); sub(/ *\\Recent/, ""); print s " " d " " $0}' || true)
  if [[ "$got" != "$3" ]]; then
    echo "FAIL $2: Dovecot reads"$'\n'"$got"$'\n'"expected"$'\n'"$3 ($(head -c 300 "$work/doveadm.err"))"
    failed=1
  else
    echo "ok   $2: $(echo "$got" | wc -l) messages, flags and dates as indexed"
  fi
}
body() { # config, mailbox, subject: the body Dovecot gives
  USER=tester HOME="$work" doveadm -c "$1" fetch 'body' mailbox "$2" header subject "$3" 2>/dev/null | sed 1d
}

for layout in flat tree; do
  out="$work/mail-$layout"
  mkdir -p "$out"
  XDG_CONFIG_HOME="$work/config" HOME="$work" TZ=UTC "$cli" --format maildir --layout "$layout" "$work/src" "$out" \
    >/dev/null 2>"$work/cli.err" || { echo "conversion failed: $(cat "$work/cli.err")"; exit 1; }
  location="maildir:$out"
  [[ $layout == tree ]] && location="maildir:$out:LAYOUT=fs:UTF-8"
  cat >"$work/dovecot-$layout.conf" <<CONF
mail_location = $location
namespace inbox {
  inbox = yes
  separator = /
}
$(dovecot_shared_settings)
CONF
  [[ $(id -u) == 0 ]] && chown -R "$uid:$gid" "$work"
  conf="$work/dovecot-$layout.conf"
  check "$conf" "In" $'read 2010-12-13T18:45:29 \\Seen\nreplied 2005-02-01T08:00:00 \\Answered \\Seen\nnew 2000-01-01T00:00:01 '
  check "$conf" "Wörk & Play/Project Alpha" $'forwarded 2001-07-04T12:30:00 \\Seen $Forwarded'
  # Lines end with LF; an indexed body's "From " lines stay in the message.
  got=$(body "$conf" "Wörk & Play/Project Alpha" forwarded | od -c | grep -c '\\r' || true)
  [[ $got == 0 ]] || { echo "FAIL $layout: CR in a Maildir message"; failed=1; }
  body "$conf" "Wörk & Play/Project Alpha" forwarded | grep -q "^>From there too.$" \
    || { echo "FAIL $layout: the body line lost"; failed=1; }
done
# Maildir++ names as Dovecot writes them: modified UTF-7, "&" as "&-".
[[ -d "$work/mail-flat/.W&APY-rk &- Play.Project Alpha/cur" ]] \
  || { echo "FAIL: Maildir++ folder name: $(ls -a "$work/mail-flat")"; failed=1; }
exit $failed

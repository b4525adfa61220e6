#!/usr/bin/env bash
# An mbox folder tree read by Dovecot set up as README says
# (`mail_location = mbox:~/mbox:UTF-8`): a Eudora folder whose name holds "&" and an
# accent, named so by its descmap.pce, converted with --layout tree; doveadm must list
# each mailbox under its real name and count its messages.
# Usage: dovecot_mbox_names.sh TARNWICK_CLI (exit 77: doveadm not installed).
set -euo pipefail
cli="$1"
command -v doveadm >/dev/null || { echo "dovecot_mbox_names: doveadm not installed"; exit 77; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home/mbox" "$work/run" "$work/state" "$work/src/FAMILY.FOL"
source "$(dirname "$0")/dovecot_settings.sh"
message() { printf 'From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: %s\r\nDate: Mon, 13 Dec 2010 18:45:29 -0600\r\n\r\nbody\r\n\r\n' "$1"; }
{ message one; message two; } >"$work/src/In.mbx"
{ message a; message b; message c; } >"$work/src/FAMILY.FOL/HOLIDAYS.MBX"
printf 'Family & Fr\xc3\xa9res,FAMILY.FOL,F,N\r\n' >"$work/src/descmap.pce"
printf 'Holidays 2003,HOLIDAYS.MBX,M,N\r\n' >"$work/src/FAMILY.FOL/descmap.pce"
HOME="$work/home" XDG_CONFIG_HOME="$work/config" "$cli" --layout tree "$work/src" "$work/home/mbox" >/dev/null 2>"$work/cli.err" \
  || { echo "conversion failed: $(cat "$work/cli.err")"; exit 1; }
cat >"$work/dovecot.conf" <<CONF
mail_location = mbox:~/mbox:UTF-8
$(dovecot_shared_settings)
CONF
[[ $(id -u) == 0 ]] && chown -R "$uid:$gid" "$work"
doveadm() { USER=tester HOME="$work/home" command doveadm -c "$work/dovecot.conf" "$@" 2>>"$work/doveadm.err"; }
failed=0
for expected in "In.mbx 2" "Family & Fréres/Holidays 2003.MBX 3"; do
  name="${expected% *}" count="${expected##* }"
  got=$(doveadm mailbox status -t messages "$name" || true)
  if [[ "$got" != "messages=$count" ]]; then
    echo "FAIL $name: Dovecot counts '$got', expected $count ($(head -c 300 "$work/doveadm.err"))"
    failed=1
  else
    echo "ok   $name: $count messages"
  fi
done
listed=$(doveadm mailbox list | LC_ALL=C sort | tr '\n' '|')
[[ "$listed" == "Family & Fréres|Family & Fréres/Holidays 2003.MBX|INBOX|In.mbx|" ]] \
  || { echo "FAIL: Dovecot lists $listed"; failed=1; }
exit $failed

#!/usr/bin/env bash
# Converts the generated corpora (bench/gen_corpus.py), the In mailboxes of the Eudora
# folders under tests/data/eudora and, when SAMPLES_DIR is a folder, those of the real
# sample folders, with tarnwick-cli's defaults, and counts their messages with Dovecot
# (doveadm on an mbox mail location): every mailbox must open and hold as many
# messages as its input.
# Usage: dovecot_read_back.sh TARNWICK_CLI SAMPLES_DIR|"" [CLI OPTION...]
# (exit 77: doveadm not installed). Options given go to every conversion.
set -euo pipefail
cli="$1"
samples="$2"
shift 2
root="$(cd "$(dirname "$0")/../.." && pwd)"
command -v doveadm >/dev/null || { echo "dovecot_read_back: doveadm not installed"; exit 77; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mail" "$work/run" "$work/state" "$work/config" "$work/in"
# Dovecot never opens mail as root: as root, it reads the mail as nobody.
source "$(dirname "$0")/dovecot_settings.sh"
cat >"$work/dovecot.conf" <<CONF
mail_location = mbox:$work/mail:INBOX=$work/inbox
$(dovecot_shared_settings)
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$work
}
passdb {
  driver = static
  args = nopassword=y
}
CONF
: >"$work/inbox"

inputs=()
for profile in mac win ja mixed; do
  python3 "$root/bench/gen_corpus.py" --size-mb 0.5 --profile "$profile" --seed 11 "$work/in/$profile" >/dev/null
  inputs+=("$work/in/$profile")
done
inputs+=("$root/tests/data/eudora/Mac Eudora Folder/Mail Folder/In" "$root/tests/data/eudora/Windows Eudora Folder/In.mbx")
if [[ -n "$samples" && -d "$samples" ]]; then
  inputs+=("$samples/Mac Eudora 6.2.4 Folder/Mail Folder/In" "$samples/Windows Eudora 7.1 Folder/In.mbx")
fi

failed=0
index=0
for input in "${inputs[@]}"; do
  index=$((index + 1))
  name="box$index"
  XDG_CONFIG_HOME="$work/config" HOME="$work" "$cli" "$@" "$input" "$work/mail/$name" >/dev/null 2>"$work/cli.err" \
    || { echo "conversion of $input failed: $(cat "$work/cli.err")"; failed=1; continue; }
  [[ $(id -u) == 0 ]] && chown -R "$uid:$gid" "$work"
  expected=$(python3 -c 'import re,sys; print(sum(1 for l in re.split(rb"\r\n|\r|\n", open(sys.argv[1],"rb").read()) if l.startswith(b"From ")))' "$input")
  # Without -u, doveadm opens the invoking user's mail (USER, HOME) with no auth service.
  status=$(USER=tester HOME="$work" doveadm -c "$work/dovecot.conf" mailbox status messages "$name" 2>"$work/doveadm.err" || true)
  got="${status##*messages=}"
  if [[ "$got" != "$expected" ]]; then
    echo "FAIL $(basename "$input"): Dovecot reads ${got:-nothing} messages, the input has $expected ($(head -c 300 "$work/doveadm.err"))"
    failed=1
  else
    echo "ok   $(basename "$input"): $got messages"
  fi
done
if grep -q "isn't a valid mbox" "$work/dovecot.log" 2>/dev/null; then
  grep "isn't a valid mbox" "$work/dovecot.log" | head -3
  failed=1
fi
exit $failed

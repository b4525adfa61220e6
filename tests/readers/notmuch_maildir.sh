#!/usr/bin/env bash
# Maildir output as notmuch reads it: the Windows Eudora folder of tests/data/eudora
# converted with --format maildir --layout tree, indexed by `notmuch new` with the
# Maildir flags taken as tags: every message found, in its folder, read, replied and
# forwarded ones tagged as the index marked them.
# Usage: notmuch_maildir.sh TARNWICK_CLI (exit 77: notmuch not installed).
set -euo pipefail
cli="$1"
command -v notmuch >/dev/null || { echo "notmuch_maildir: notmuch not installed"; exit 77; }
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/mail" "$work/home"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" LC_ALL=C.UTF-8 TZ=UTC \
  "$cli" --format maildir --layout tree "$here/../data/eudora/Windows Eudora Folder" "$work/mail" >/dev/null 2>&1
cat >"$work/notmuch-config" <<CONFIG
[database]
path=$work/mail
[new]
tags=unread;
[maildir]
synchronize_flags=true
CONFIG
export NOTMUCH_CONFIG="$work/notmuch-config" HOME="$work/home"
notmuch new --quiet 2>/dev/null
failed=0
expect() { # QUERY COUNT
  local got
  got=$(notmuch count "$1")
  if [[ "$got" != "$2" ]]; then
    echo "FAIL notmuch count '$1': $got, expected $2"
    failed=1
  else
    echo "notmuch count '$1': $got"
  fi
}
expect '*' 8
expect 'folder:In' 5
expect 'folder:Out' 1
expect 'folder:"Clubs/Harbour bridge, phase 2"' 2
expect 'not tag:unread' 5
expect 'tag:replied' 1
expect 'tag:passed' 1
expect 'folder:In and tag:unread' 2
exit $failed

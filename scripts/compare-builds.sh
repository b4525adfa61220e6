#!/usr/bin/env bash
# Differential check of two tarnwick-cli builds: both convert the same corpora with
# several option sets and every output must be byte-identical. Use it with a binary
# saved before a change that must not alter the bytes written.
#
#   scripts/compare-builds.sh OLD_CLI NEW_CLI [CORPUS.mbx...]
#
# Without corpora it makes four with bench/gen_corpus.py (profiles mac, win, ja, mixed,
# 2 MiB each, seed 5); more: python3 bench/gen_corpus.py --size-mb N --profile P --seed S OUT
set -euo pipefail

if (($# < 2)); then
  echo "usage: $0 OLD_CLI NEW_CLI [CORPUS.mbx...]" >&2
  exit 2
fi
old=$1 new=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"
if (($# == 0)); then
  for profile in mac win ja mixed; do
    python3 "$(dirname "$0")/../bench/gen_corpus.py" --size-mb 2 --profile "$profile" --seed 5 "$work/$profile.mbx" >/dev/null
    set -- "$@" "$work/$profile.mbx"
  done
fi

option_sets=(
  "--no-convert-encodings --no-crlf --no-complement-dates --no-add-empty-lines"
  "--no-convert-encodings --crlf --complement-dates --add-empty-lines"
  "--convert-encodings --eudora-tags --source-encoding windows-1252 --charsets us-ascii,iso-8859-1,utf-8 --crlf --complement-dates --add-empty-lines"
  "--convert-encodings --no-eudora-tags --source-encoding macintosh --charsets iso-8859-1,utf-8 --no-crlf"
  "--convert-encodings --eudora-tags --source-encoding shift_jis --replace-nbsp --charsets iso-2022-jp,utf-8 --crlf --complement-dates --add-empty-lines"
  "--convert-encodings --eudora-tags --source-encoding x-mac-japanese --charsets iso-2022-jp,shift_jis,utf-8 --no-crlf"
  "--convert-encodings --eudora-tags --source-encoding utf-8 --charsets us-ascii,utf-8 --crlf"
  ""
  "--no-eudora-tags --no-attachments --no-encode-headers --charsets us-ascii,windows-1252,utf-8"
  "--charsets iso-8859-15,macintosh,utf-8 --no-crlf"
  "--source-encoding macintosh --charsets us-ascii,iso-8859-1,windows-1252,utf-8 --no-add-empty-lines"
  "--source-encoding utf-8 --charsets iso-8859-1,utf-8"
)

failed=0
for corpus in "$@"; do
  for options in "${option_sets[@]}"; do
    rm -f "$work/old.mbox" "$work/new.mbox"
    # shellcheck disable=SC2086 # the option sets are word lists
    "$old" $options "$corpus" "$work/old.mbox" >"$work/old.log" 2>&1 || true
    # shellcheck disable=SC2086
    "$new" $options "$corpus" "$work/new.mbox" >"$work/new.log" 2>&1 || true
    if [[ -s "$work/old.mbox" ]] && cmp -s "$work/old.mbox" "$work/new.mbox" && cmp -s <(tail -1 "$work/old.log") <(tail -1 "$work/new.log"); then
      echo "same: $(basename "$corpus") $options ($(tail -1 "$work/new.log"))"
    else
      echo "DIFFERENT: $(basename "$corpus") $options"
      failed=1
    fi
  done
done
exit $failed

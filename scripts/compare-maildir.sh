#!/usr/bin/env bash
# Differential check of two tarnwick-cli builds' Maildir output: both convert the same
# sources (Eudora folders or mailbox files) with --format maildir in both layouts and a
# few option sets, and every Maildir must hold the same messages: per folder, the sorted
# list of (content, info flags, file time), and the same keyword list. File names are
# left out: they hold unique parts.
#
#   scripts/compare-maildir.sh OLD_CLI NEW_CLI SOURCE...
set -euo pipefail

if (($# < 3)); then
  echo "usage: $0 OLD_CLI NEW_CLI SOURCE..." >&2
  exit 2
fi
old=$1 new=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME"

# One line per message: folder, content digest, flags, file time; then each keyword list.
listing() {
  (cd "$1" && find . -path '*/cur/*' -type f -printf '%h\t%T@\t%f\n' | while IFS=$'\t' read -r folder time name; do
    printf '%s %s %s %s\n' "$folder" "$(sha256sum <"$folder/$name" | cut -c1-16)" "${name##*:2,}" "${time%%.*}"
  done | sort
  find . -name dovecot-keywords -type f -exec sh -c 'echo "$1"; cat "$1"' _ {} \; | sort)
}

option_sets=(
  ""
  "--no-convert-encodings --crlf"
  "--charsets iso-8859-1,utf-8 --no-complement-dates"
  "--no-eudora-tags --no-attachments --removed-messages apart"
)
failed=0
for source in "$@"; do
  for layout in flat tree; do
    for options in "${option_sets[@]}"; do
      rm -rf "$work/old" "$work/new"
      mkdir -p "$work/old" "$work/new"
      # shellcheck disable=SC2086 # the option sets are word lists
      "$old" --format maildir --layout "$layout" $options "$source" "$work/old/" >"$work/old.log" 2>&1 || true
      # shellcheck disable=SC2086
      "$new" --format maildir --layout "$layout" $options "$source" "$work/new/" >"$work/new.log" 2>&1 || true
      listing "$work/old" >"$work/old.list"
      listing "$work/new" >"$work/new.list"
      if [[ -s "$work/old.list" ]] && cmp -s "$work/old.list" "$work/new.list"; then
        echo "same: $(basename "$source") $layout $options ($(wc -l <"$work/new.list") lines)"
      else
        echo "DIFFERENT: $(basename "$source") $layout $options"
        diff "$work/old.list" "$work/new.list" | head -5 || true
        failed=1
      fi
    done
  done
done
exit $failed

#!/usr/bin/env bash
# Fails when the product's sources speak another platform's idiom (prefixed names, "%@"
# placeholders, delegate-style start-up and callbacks, version gates on another toolkit,
# a public widget member in the window) or break the rules of docs/ARCHITECTURE.md: Qt,
# ICU, system headers or system calls in the core, an engine file over 800 lines, a
# function over 80 lines.
# Usage: scripts/check-idiom.sh   (from anywhere; prints every hit)
set -uo pipefail
cd "$(dirname "$0")/.."

folders=(app batch cli engine platform settings)
status=0

hits() { # hits LABEL PATTERN FOLDER...
  local label=$1 pattern=$2
  shift 2
  local found
  found=$(grep -rnE --include='*.cpp' --include='*.h' --include='*.in' --include='*.ui' --include='*.ts' -- "$pattern" "$@" 2>/dev/null)
  if [[ -n "$found" ]]; then
    echo "check-idiom: $label:"
    echo "$found"
    status=1
  fi
}

hits "prefixed names (ZQ)" 'ZQ' "${folders[@]}"
hits "'%@' placeholders (use %1, %2)" '%@' "${folders[@]}" resources/translations
hits "delegate-style names" 'awakeFromNib|DidEnd|contextInfo' "${folders[@]}"
hits "version thresholds of another toolkit" 'NSAppKit|NSFoundation|[Ff]oundation[A-Za-z]*(Version|Threshold)|[Tt]oolkit[A-Za-z]*(Version|Threshold)|\b(663|462)\.0\b' "${folders[@]}"
hits "Qt headers in the core" '#include <Q' engine batch settings
hits "public widget members" '^\s*(public:)?\s*Q[A-Za-z]+\s*\*\s*_[a-z][A-Za-z]*\s*(=[^;]*)?;' app

# The layers: engine/, batch/ and settings/ reach the system only through platform/ (no
# Qt, no ICU, no system headers or direct system calls).
hits "ICU headers in the core (they go through platform/)" '#include <unicode/' engine batch settings
hits "system headers in the core (they go through platform/)" '#include <(sys/|fcntl\.h|unistd\.h|dirent\.h|netdb\.h|netinet/|arpa/)' engine batch settings
hits "system calls in the core (they go through platform/)" '(^|[^A-Za-z_.>])::(lstat|stat|fstat|fstatat|open|openat|close|read|write|pread|pwrite|readdir|opendir|unlink|unlinkat|rename|renameat|renameat2|mkdir|mkdirat|rmdir|fsync|fdatasync|ftruncate|mmap|munmap|socket|connect)\(' engine batch settings

# No engine source file over 800 lines, no function over 80 lines, but for those listed in
# scripts/too-long.txt, which are still to be cut; a listed one that no longer is too long
# is noted, to be taken out of the list.
listed=$(grep -v '^#' scripts/too-long.txt | grep -v '^$')
long_files=$(find engine -name '*.cpp' -o -name '*.h' | sort | xargs wc -l | awk '$2 != "total" && $1 > 800 { print $2 }')
unlisted_files=$(comm -23 <(sort <<<"$long_files") <(grep -v ':' <<<"$listed" | sort) | grep -v '^$')
if [[ -n "$unlisted_files" ]]; then
  echo "check-idiom: engine files over 800 lines:"
  echo "$unlisted_files"
  status=1
fi
stale_files=$(comm -13 <(sort <<<"$long_files") <(grep -v ':' <<<"$listed" | sort) | grep -v '^$')
if [[ -n "$stale_files" ]]; then
  echo "check-idiom: note: listed in scripts/too-long.txt but no longer over 800 lines (take them out):"
  echo "$stale_files"
fi

sources=$(find "${folders[@]}" tests bench fuzz -name '*.cpp' -o -name '*.h' | grep -v '^tests/data/' | sort)
too_long=$(python3 scripts/function_lengths.py --max 80 $sources)
unlisted=$(while IFS= read -r hit; do
  [[ -z "$hit" ]] && continue
  key="${hit%%:*}:$(sed -E 's/^[^:]+:[0-9]+: ([^ ]+) .*/\1/' <<<"$hit")"
  grep -qxF "$key" <<<"$listed" || echo "$hit"
done <<<"$too_long")
if [[ -n "$unlisted" ]]; then
  echo "check-idiom: functions over 80 lines:"
  echo "$unlisted"
  status=1
fi
stale=$(while IFS= read -r key; do
  [[ -z "$key" ]] && continue
  grep -q "^${key%%:*}:[0-9]*: ${key#*:} (" <<<"$too_long" || echo "$key"
done <<<"$(grep ':' <<<"$listed")")
if [[ -n "$stale" ]]; then
  echo "check-idiom: note: listed in scripts/too-long.txt but no longer over 80 lines (take them out):"
  echo "$stale"
fi

# A pointer data member in the public part of a class or struct of the window: the
# window's widgets are private (m_ members or an m_ui form).
public_pointers=$(awk '
  FNR == 1 { access = "" }
  /^[[:space:]]*class[[:space:]]+[A-Za-z_]+[^;]*$/ { access = "private" }
  /^[[:space:]]*struct[[:space:]]+[A-Za-z_]+[^;]*$/ { access = "public" }
  /^[[:space:]]*public:/ { access = "public" }
  /^[[:space:]]*(private|protected|signals|private slots|protected slots)[[:space:]]*:/ { access = "private" }
  access == "public" && /^[[:space:]]*(const[[:space:]]+)?[A-Za-z_:]+[[:space:]]*\*[[:space:]]*[A-Za-z_][A-Za-z0-9_]*[[:space:]]*(=[^;(]*|\{[^;(]*\})?;/ {
    print FILENAME ":" FNR ":" $0
  }' app/*.h)
if [[ -n "$public_pointers" ]]; then
  echo "check-idiom: public pointer members in the window:"
  echo "$public_pointers"
  status=1
fi

if ((status == 0)); then
  echo "check-idiom: ok"
fi
exit $status

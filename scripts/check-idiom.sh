#!/usr/bin/env bash
# Fails when the product's sources speak another platform's idiom: prefixed names,
# "%@" placeholders, delegate-style start-up and callbacks, version gates on another
# toolkit, a Qt header in the core, or a public widget member in the window.
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

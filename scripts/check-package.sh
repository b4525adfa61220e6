#!/usr/bin/env bash
# Builds the Debian package from a configured and built build folder into a temporary
# folder, then checks it: control fields and declared dependencies, the file list,
# the desktop entry, AppStream data and icons, and that the packaged tarnwick-cli
# reports the package version and converts the packaged sample (also in Japanese).
#
#   scripts/check-package.sh BUILD_DIR VERSION
#
# Exit status 0 when every check passes, 1 otherwise.
set -uo pipefail

build_dir=${1:?usage: check-package.sh BUILD_DIR VERSION}
version=${2:?usage: check-package.sh BUILD_DIR VERSION}
build_dir=$(cd "$build_dir" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# --- build the package (the binaries are those of BUILD_DIR; only staging is here)
if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "FAIL: cpack could not build the package"
  echo "0 passed, 1 failed"
  exit 1
fi
arch=$(dpkg --print-architecture)
deb="$work/pkg/tarnwick_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
  ls -l "$work/pkg"
  echo "FAIL: expected package $(basename "$deb")"
  echo "0 passed, 1 failed"
  exit 1
fi
pass "package built: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# --- control fields
field() { dpkg-deb -f "$deb" "$1"; }
check "Package is tarnwick" test "$(field Package)" = tarnwick
check "Version is $version" test "$(field Version)" = "$version"
check "Architecture is $arch" test "$(field Architecture)" = "$arch"
check "Section is mail" test "$(field Section)" = mail
check "Maintainer is set" grep -qE '^.+ <[^ >]+@[^ >]+>$' <<<"$(field Maintainer)"
check "Description has a summary and a long text" test "$(field Description | wc -l)" -ge 3

depends=$(field Depends)
echo "Depends: $depends"
for pattern in 'libc6' 'libstdc\+\+6' 'libicu[0-9]+' 'libqt6core6' 'libqt6gui6' 'libqt6widgets6'; do
  check "Depends declares $pattern with a version" grep -qE "(^|, )${pattern} \(>= [^)]+\)" <<<"$depends"
done
check "Depends names no -dev package" bash -c '! grep -qE -- "-dev( |,|$)" <<<"$1"' _ "$depends"

# --- file list
dpkg-deb -c "$deb" >"$work/contents.txt"
awk '{print $NF}' "$work/contents.txt" | sed 's|^\./|/|' >"$work/paths.txt"
for path in \
  /usr/bin/tarnwick /usr/bin/tarnwick-cli \
  /usr/share/applications/tarnwick.desktop \
  /usr/share/icons/hicolor/scalable/apps/tarnwick.svg \
  /usr/share/icons/hicolor/256x256/apps/tarnwick.png \
  /usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml \
  /usr/share/man/man1/tarnwick-cli.1.gz \
  /usr/share/tarnwick/translations/tarnwick_ja.qm \
  /usr/share/tarnwick/samples/Eudora/In.mbx \
  /usr/share/doc/tarnwick/README.md; do
  check "contains $path" grep -qxF "$path" "$work/paths.txt"
done
check "binaries are executable" test "$(grep -cE '^-rwxr-xr-x .* \./usr/bin/tarnwick(-cli)?$' "$work/contents.txt")" -eq 2
check "every entry is owned by root" bash -c '! awk "{print \$2}" "$1" | grep -qv "^root/root$"' _ "$work/contents.txt"
check "nothing outside /usr/bin and /usr/share" bash -c '! grep -vE "^/usr/?$|^/usr/(bin|share)(/|$)" "$1"' _ "$work/paths.txt"
check "no headers, static libraries or build paths" bash -c '! grep -E "\.(a|h|o)$|/include/|/build|/work/|CMake" "$1"' _ "$work/paths.txt"

# --- the unpacked tree
root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop="$root/usr/share/applications/tarnwick.desktop"
metainfo="$root/usr/share/metainfo/org.tarnwick.Tarnwick.metainfo.xml"
if command -v desktop-file-validate >/dev/null; then
  check "desktop-file-validate accepts the desktop entry" desktop-file-validate "$desktop"
else
  echo "skip: desktop-file-validate not installed (package desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null; then
  check "appstreamcli validate-tree accepts the metainfo with its desktop entry and icon" appstreamcli validate-tree --no-net "$root"
else
  echo "skip: appstreamcli not installed (package appstream)"
fi
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
check "desktop Exec=$exec_name is a packaged binary" test -x "$root/usr/bin/$exec_name"
check "desktop Icon=$icon_name has an SVG and a PNG" test -f "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" -a -f "$root/usr/share/icons/hicolor/256x256/apps/$icon_name.png"
check "metainfo launches the packaged desktop entry" grep -qF '<launchable type="desktop-id">tarnwick.desktop</launchable>' "$metainfo"
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
check "newest metainfo release ($newest) is $version" test "$newest" = "$version"
check "man page is gzip and names tarnwick-cli" bash -c 'gzip -dc "$1" | grep -q "^\.TH TARNWICK-CLI 1 "' _ "$root/usr/share/man/man1/tarnwick-cli.1.gz"

# --- the packaged tarnwick-cli, run from the unpacked tree with a fresh user
cli="$root/usr/bin/tarnwick-cli"
home="$work/home"
mkdir -p "$home"
run_cli() { env -i PATH=/usr/bin:/bin HOME="$home" TZ=UTC "$@"; }
check "tarnwick-cli --version prints $version" test "$(run_cli "$cli" --version)" = "tarnwick-cli $version"

sample="$root/usr/share/tarnwick/samples/Eudora"
out="$work/out"
mkdir -p "$out"
run_cli LANG=C.UTF-8 "$cli" --convert-encodings --source-encoding iso-8859-1 --charsets "us-ascii, utf-8" \
  --eudora-tags --crlf --complement-dates --add-empty-lines "$sample" "$out" >"$work/stdout.txt" 2>"$work/stderr.txt"
status=$?
check "converting the sample exits 0 (got $status)" test "$status" -eq 0
check "the result line is Completed" test "$(tail -n 1 "$work/stdout.txt")" = Completed
check "In.mbx was converted" test -s "$out/In.mbx"
from_in=$(grep -c '^From ' "$sample/In.mbx")
from_out=$(grep -c '^From ' "$out/In.mbx")
check "In.mbx keeps its $from_in messages (got $from_out)" test "$from_in" -eq "$from_out"
check "every output line ends in CR LF" bash -c '! grep -qv $'"'"'\r$'"'"' "$1"' _ "$out/In.mbx"
check "no stored setting was written" test ! -e "$home/.config/Tarnwick/Tarnwick.conf"
if [ "$status" -ne 0 ]; then cat "$work/stdout.txt" "$work/stderr.txt"; fi

out_ja="$work/out-ja"
mkdir -p "$out_ja"
run_cli LC_ALL=ja_JP.UTF-8 "$cli" "$sample" "$out_ja" >"$work/stdout-ja.txt" 2>/dev/null
check "Japanese result line comes from the packaged translation" test "$(tail -n 1 "$work/stdout-ja.txt")" = "完了しました"
# Started by name through PATH, as a user types it, from a folder other than its own.
out_path="$work/out-path"
mkdir -p "$out_path"
(cd "$work" && run_cli LC_ALL=ja_JP.UTF-8 PATH="$root/usr/bin:/usr/bin:/bin" tarnwick-cli "$sample" "$out_path" >"$work/stdout-path.txt" 2>/dev/null)
check "started through PATH it still finds its translation" test "$(tail -n 1 "$work/stdout-path.txt")" = "完了しました"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

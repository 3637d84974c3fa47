#!/usr/bin/env bash
# Installs a build into a fresh prefix and checks that the programs, the
# desktop menu entry and its icon, the metainfo and the manual pages land
# where the README says, that the entry is valid and names what was
# installed, and that the programs find their libraries without the build
# tree.
# Usage: tests/install_test.sh <build dir>
set -u
build=${1:?usage: install_test.sh <build dir>}

if ! command -v desktop-file-validate >/dev/null; then
  echo "desktop-file-validate is missing (package desktop-file-utils, tools/install-deps.sh)"
  exit 1
fi

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

if ! cmake --install "$build" --prefix "$prefix" >/dev/null; then
  echo "cmake --install $build failed"
  exit 1
fi

status=0
fail() {
  echo "$*"
  status=1
}

entry=$prefix/share/applications/qvr1pc.desktop
icon=$prefix/share/icons/hicolor/scalable/apps/qvr1pc.svg

for program in qvr1pc qvr1pc-demo; do
  path=$prefix/bin/$program
  if [ ! -f "$path" ] || [ ! -x "$path" ]; then
    fail "not installed as an executable: bin/$program"
  elif ldd "$path" | grep -q "not found"; then
    fail "bin/$program misses libraries:"
    ldd "$path" | grep "not found"
  fi
done
[ -e "$prefix/bin/qvr1pc-screenshots" ] && fail "the screenshot renderer is installed"

if [ ! -f "$entry" ]; then
  fail "no desktop entry: share/applications/qvr1pc.desktop"
else
  desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
  # The menu starts what bin/ holds and shows the installed icon.
  [ -x "$prefix/bin/$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")" ] ||
    fail "Exec= names no installed program"
  [ "$(sed -n 's/^Icon=//p' "$entry")" = "$(basename "$icon" .svg)" ] ||
    fail "Icon= is not the installed icon's name"
fi

if [ ! -s "$icon" ]; then
  fail "no icon: share/icons/hicolor/scalable/apps/qvr1pc.svg"
elif ! grep -q "<svg" "$icon"; then
  fail "the icon is no SVG image"
fi

metainfo=$prefix/share/metainfo/io.github.qvr1pc.metainfo.xml
grep -q "<launchable type=\"desktop-id\">$(basename "$entry")<" "$metainfo" 2>/dev/null ||
  fail "no metainfo launching the installed entry: share/metainfo/io.github.qvr1pc.metainfo.xml"

man1=$prefix/share/man/man1
gzip -t "$man1/qvr1pc.1.gz" 2>/dev/null || fail "no gzipped manual page: share/man/man1/qvr1pc.1.gz"
[ "$(readlink "$man1/qvr1pc-demo.1.gz")" = qvr1pc.1.gz ] ||
  fail "share/man/man1/qvr1pc-demo.1.gz is no link to qvr1pc.1.gz"

exit $status

#!/usr/bin/env bash
# Makes the Debian package of a build in a temporary folder and checks it:
# its name and control fields, that it holds the programs (stripped), the
# menu entry, the icon, the metainfo, the manual pages and the Debian docs,
# all owned by root; that Depends names the package of every library the
# programs link; that the metainfo validates and the manual page renders
# without warnings; and that making it rebuilt nothing.
# Usage: tests/package_test.sh <build dir>
set -u
build=${1:?usage: package_test.sh <build dir>}
build=$(cd "$build" && pwd)

for tool in cpack dpkg-deb dpkg-shlibdeps appstreamcli man file readelf; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (tools/install-deps.sh)"
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
fail() {
  echo "$*"
  status=1
}

program_stamp() { stat -c %Y "$build/qvr1pc" "$build/qvr1pc-demo" 2>/dev/null; }
before=$(program_stamp)
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  echo "cpack failed"
  exit 1
fi
[ "$(program_stamp)" = "$before" ] || fail "making the package rebuilt the programs"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$work/out/qvr1pc_${version}-1_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
  echo "no $(basename "$deb"); made:"
  ls "$work/out"
  exit 1
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = qvr1pc ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version), not $version-1"
case $(field Section) in science | electronics) ;; *) fail "Section: $(field Section)" ;; esac
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
# A short line and a long text under it.
[ "$(field Description | wc -l)" -ge 3 ] || fail "no long Description"

# What the package holds, by path; every entry root's.
dpkg-deb -c "$deb" >"$work/list" || fail "dpkg-deb -c failed"
paths=$(awk '{print $6}' "$work/list")
for want in \
  ./usr/bin/qvr1pc \
  ./usr/bin/qvr1pc-demo \
  ./usr/share/applications/qvr1pc.desktop \
  ./usr/share/icons/hicolor/scalable/apps/qvr1pc.svg \
  ./usr/share/metainfo/io.github.qvr1pc.metainfo.xml \
  ./usr/share/man/man1/qvr1pc.1.gz \
  ./usr/share/man/man1/qvr1pc-demo.1.gz \
  ./usr/share/doc/qvr1pc/copyright \
  ./usr/share/doc/qvr1pc/changelog.Debian.gz; do
  grep -qxF "$want" <<<"$paths" || fail "not in the package: $want"
done
grep -q "qvr1pc-screenshots" <<<"$paths" && fail "the screenshot renderer is in the package"
grep -v -e '^\./$' -e '^\./usr/' <<<"$paths" && fail "the entries above lie outside usr/"
awk '$2 != "root/root"' "$work/list" | grep . && fail "the entries above are not root's"

root=$work/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"

# Depends: the package of each library the programs need, as dpkg knows it
# (one dpkg query for all). Under merged /usr a library may be registered
# under /lib or /usr/lib, by its link name or by the file it names.
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/[ (].*//; s/:.*//')
[ -n "$depends" ] || fail "no Depends"
declare -A library_of # candidate path -> "program soname"
for program in qvr1pc qvr1pc-demo; do
  binary=$root/usr/bin/$program
  [ -x "$binary" ] || continue
  file -b "$binary" | grep -q ', stripped' || fail "usr/bin/$program is not stripped"
  for soname in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldd "$binary" | awk -v s="$soname" '$1 == s && $3 ~ /^\// {print $3}')
    if [ -z "$path" ]; then
      fail "usr/bin/$program: $soname not found"
      continue
    fi
    real=$(readlink -f "$path")
    for p in "$path" "$real"; do
      library_of[/usr${p#/usr}]="$program $soname"
      library_of[${p#/usr}]="$program $soname"
    done
  done
done
declare -A package_of # "program soname" -> package
while IFS= read -r line; do
  package_of[${library_of[${line#*: }]}]=${line%%:*}
done < <(dpkg -S "${!library_of[@]}" 2>/dev/null | grep -v '^diversion')
for needed in $(printf '%s\n' "${library_of[@]}" | sort -u | tr ' ' '|'); do
  needed=${needed/|/ }
  package=${package_of[$needed]:-}
  if [ -z "$package" ]; then
    fail "usr/bin/${needed% *}: no package owns ${needed#* }"
  elif ! grep -qxF "$package" <<<"$depends"; then
    fail "usr/bin/${needed% *} needs ${needed#* } of $package, which Depends lacks: $(field Depends)"
  fi
done

metainfo=$root/usr/share/metainfo/io.github.qvr1pc.metainfo.xml
if [ -f "$metainfo" ]; then
  appstreamcli validate --no-net "$metainfo" >"$work/appstream" 2>&1 ||
    fail "appstreamcli validate: $(cat "$work/appstream")"
fi

# The page as man shows it, groff's warnings on; the demo's page is the same.
page=$root/usr/share/man/man1/qvr1pc.1.gz
if [ -f "$page" ]; then
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" >"$work/page" 2>"$work/warnings" ||
    fail "man -l failed"
  [ -s "$work/warnings" ] && fail "man -l warns: $(cat "$work/warnings")"
  for heading in NAME SYNOPSIS DESCRIPTION SETTINGS SIGNALS FILES; do
    grep -q "^$heading" "$work/page" || fail "the manual page has no $heading"
  done
  [ "$(readlink "$root/usr/share/man/man1/qvr1pc-demo.1.gz")" = qvr1pc.1.gz ] ||
    fail "man1/qvr1pc-demo.1.gz is no link to qvr1pc.1.gz"
fi

exit $status

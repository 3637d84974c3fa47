#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# With --test-locales it then generates the locales the tests set (regional
# settings come from the C library's locale data), when any is missing; the
# program itself needs none of them. As root it runs apt-get and localedef;
# otherwise it prints what to run.
set -euo pipefail

packages=(
  cmake g++ pkg-config
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  libqcustomplot-dev libsimpleini-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libmodbus-dev
  fonts-wine fonts-dejavu-core
  xvfb xauth x11-utils imagemagick xdotool
  desktop-file-utils clang-format
  dpkg-dev file appstream lintian man-db
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Locales the tests use: decimal comma (pl, sv, lt, uk), Arabic-script
# digits (ar, fa).
test_locales=(pl_PL sv_SE lt_LT uk_UA ar_EG fa_IR)

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing packages. Run as root:"
    echo "  apt-get install -y ${missing[*]}"
    exit 1
  fi
fi

[ "${1:-}" = "--test-locales" ] || exit 0

# `locale -a` lists "pl_PL.utf8" for pl_PL.UTF-8.
generated=$(locale -a 2>/dev/null || true)
absent=()
for l in "${test_locales[@]}"; do
  grep -qx "$l.utf8" <<<"$generated" || absent+=("$l")
done

[ ${#absent[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  for l in "${absent[@]}"; do
    echo "Generating locale $l.UTF-8"
    localedef -i "$l" -f UTF-8 "$l.UTF-8"
  done
else
  echo "Missing locales. Run as root:"
  for l in "${absent[@]}"; do
    echo "  localedef -i $l -f UTF-8 $l.UTF-8"
  done
  exit 1
fi

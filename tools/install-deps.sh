#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any is missing.
# As root it runs apt-get; otherwise it prints the one line to run.
set -euo pipefail

packages=(
  cmake g++ pkg-config
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  libqcustomplot-dev libsimpleini-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev libmodbus-dev
  fonts-wine fonts-dejavu-core
  xvfb xauth x11-utils imagemagick
  desktop-file-utils clang-format
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

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

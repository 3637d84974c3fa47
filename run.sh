#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program on the simulated sensor bus.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qvr1pc-demo -j"$(nproc)"
exec build/qvr1pc-demo "$@"

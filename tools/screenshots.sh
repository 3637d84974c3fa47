#!/usr/bin/env bash
# Renders the three pages of the window offscreen into docs/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qvr1pc-screenshots -j"$(nproc)"
QT_QPA_PLATFORM=offscreen build/qvr1pc-screenshots docs/screenshots
ls docs/screenshots

#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test offscreen: once in the
# normal build, once under AddressSanitizer + UndefinedBehaviorSanitizer; then
# runs each fuzz target briefly (libFuzzer, clang).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh --test-locales
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

cmake --preset default >/dev/null
cmake --build --preset default -j"$jobs"
status=0
ctest --preset default -j"$jobs" || status=$?

if [ "${QVR_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j"$jobs"
  ctest --preset asan -j"$jobs" || status=$?
fi

# About 20 s per target (QVR_FUZZ_SECONDS) from a scratch copy of its seeds.
if [ "${QVR_SKIP_FUZZ:-0}" != "1" ]; then
  cmake --preset fuzz -DQVR_FUZZ_SECONDS="${QVR_FUZZ_SECONDS:-20}" >/dev/null
  cmake --build --preset fuzz -j"$jobs"
  ctest --preset fuzz -j"$jobs" || status=$?
fi
exit $status

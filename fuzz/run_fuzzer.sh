#!/usr/bin/env bash
# run_fuzzer.sh FUZZER SEED_CORPUS SECONDS FINDINGS_DIR
# Runs FUZZER for SECONDS on one core from a scratch copy of SEED_CORPUS, so
# the seeds stay as committed. An input that breaks an invariant or trips a
# sanitizer is kept in FINDINGS_DIR and fails the run.
set -euo pipefail
fuzzer="$1" seeds="$2" seconds="$3" findings="$4"
name="$(basename "$fuzzer")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$seeds/." "$work/"
mkdir -p "$findings"
"$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$findings/$name-" "$work"

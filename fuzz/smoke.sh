#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs each fuzz target for a bounded time from the committed seed corpus.
#   fuzz/smoke.sh [SECONDS_PER_TARGET] [BUILD_DIR]
set -euo pipefail
seconds=${1:-60}
build=${2:-build-fuzz}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelko-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
for target in record decode exchange; do
  mkdir -p "$work/$target"
  echo "fuzz: $target for ${seconds}s"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -malloc_limit_mb=64 -rss_limit_mb=2048 \
    -artifact_prefix="$work/$target-" -print_final_stats=1 "$work/$target" "$here/corpus/$target" \
    2>"$work/$target.log" || { tail -50 "$work/$target.log"; exit 1; }
  grep -E 'stat::number_of_executed_units|Done' "$work/$target.log"
done

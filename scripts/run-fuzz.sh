#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time: run-fuzz.sh BUILD TARGET SECONDS
# It starts from the committed seeds (fuzz/corpus/TARGET, never written to) and
# keeps what it learns in BUILD/corpus/TARGET. A crash leaves its input in
# BUILD/crashes/ and fails the run. The last line gives the executions.
set -euo pipefail
build=$1
target=$2
seconds=$3
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$build/corpus/$target"
mkdir -p "$work" "$build/crashes"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
export QT_QPA_PLATFORM=offscreen
log="$build/$target.log"
if ! "$build/fuzz/$target" "$work" "$root/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target-" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$target: FAILED (input in $build/crashes/)"
    exit 1
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
echo "$target: ${runs:-?} executions in ${seconds} s, no failure"

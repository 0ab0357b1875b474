#!/usr/bin/env bash
# The house style, as CI checks it: every tracked C++ file is clang-format
# clean, every lambda connected to a signal has a context object, and
# clang-tidy (the checks in .clang-tidy) finds nothing in the program's own
# sources. Needs a configured and built build folder for its compile database
# and generated files.
# Usage: scripts/check-style.sh [BUILD_DIR] [JOBS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${2:-$(nproc)}

if [ ! -f "$build/compile_commands.json" ]; then
    echo "No compile database in $build: configure and build it first." >&2
    exit 1
fi

echo "clang-format: checking the tracked sources"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror

echo "Signal connections: every lambda has a context object"
python3 scripts/check-connections.py

# The program's libraries, not the tests, benchmarks or generated files.
folders='types|analysis|app|capture|chart|events|graph|integration|log|meter|settings|windows'
echo "clang-tidy: checking the program's sources with $jobs jobs"
run-clang-tidy -quiet -p "$build" -j "$jobs" "^$PWD/($folders)/[^/]*\.cpp$" \
    > "$build/clang-tidy.log" 2>&1 || {
    grep -E '(warning|error):' "$build/clang-tidy.log" | sort -u >&2
    echo "clang-tidy found faults (full output: $build/clang-tidy.log)" >&2
    exit 1
}
echo "Style checks passed"

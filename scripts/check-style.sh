#!/usr/bin/env bash
# The house style, as CI checks it: every tracked C++ file is clang-format
# clean, every lambda connected to a signal has a context object, no compile
# command reaches the source tree's headers past the targets' links, and
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

echo "Include roots: headers are reached only through the links"
python3 scripts/check-include-roots.py "$build"

# The program's libraries (every top folder with a CMakeLists.txt), not the
# tests, benchmarks, fuzz targets or generated files.
folders=$(git ls-files '*/CMakeLists.txt' | awk -F/ 'NF == 2 { print $1 }' |
    grep -vxE 'tests|bench|fuzz' | paste -sd '|')
# clang cannot read GCC's precompiled headers: clang-tidy gets the compile
# database without them (each file then includes its headers itself).
tidy_db="$build/clang-tidy-db"
mkdir -p "$tidy_db"
python3 - "$build/compile_commands.json" "$tidy_db/compile_commands.json" <<'PY'
import json, re, sys
entries = json.load(open(sys.argv[1]))
for entry in entries:
    entry["command"] = re.sub(r" -Winvalid-pch| -include \S*cmake_pch\.hxx", "", entry["command"])
json.dump(entries, open(sys.argv[2], "w"), indent=1)
PY
echo "clang-tidy: checking the program's sources with $jobs jobs"
run-clang-tidy -quiet -p "$tidy_db" -j "$jobs" -header-filter "/($folders)/[^/]*\.h$" \
    "^$PWD/($folders)/[^/]*\.cpp$" \
    > "$build/clang-tidy.log" 2>&1 || {
    grep -E '(warning|error):' "$build/clang-tidy.log" | sort -u >&2
    echo "clang-tidy found faults (full output: $build/clang-tidy.log)" >&2
    exit 1
}
echo "Style checks passed"

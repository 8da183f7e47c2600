#!/bin/sh
# Runs today's consolebench against an earlier release of the program (default: the release
# before the console's capacity), so that both tables come from one machine and one bench.
# Usage: tools/bench-previous.sh [commit] [consolebench arguments]
set -e
cd "$(dirname "$0")/.."
commit=${1:-d4bf035}
[ $# -gt 0 ] && shift
src=build-prev/src
rm -rf "$src"
mkdir -p "$src"
git archive "$commit" | tar -x -C "$src"
cp bench/* "$src/bench/"
cmake -S "$src" -B build-prev/build -DCMAKE_BUILD_TYPE=Release
cmake --build build-prev/build --target consolebench -j2
build-prev/build/bench/consolebench "$@"

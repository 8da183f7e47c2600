#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite; the build folder and its
# build type are those of tools/run.sh, so switching between the two rebuilds nothing.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure

#!/bin/sh
# Builds everything under AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer
# in build-asan and runs the whole test suite there. Any report fails its test.
# Extra arguments go to ctest (e.g. -R tst_units).
set -e
cd "$(dirname "$0")/.."
if [ -x tools/install-deps.sh ]; then tools/install-deps.sh; fi
. tools/sanitizers/env.sh
cmake -S . -B build-asan -DTK_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-asan -j2
ctest --test-dir build-asan --output-on-failure "$@"

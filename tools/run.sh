#!/bin/sh
# Installs what is missing, builds, and starts the program.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
exec build/app/terminal-kontrol

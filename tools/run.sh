#!/bin/sh
# Installs what is missing, builds the program and the simulator, and starts the program with
# a simulated terminal linked as COM12 (TK_SIM_PORT=COMn picks another, TK_SIM_PORT= none);
# choose that port in the port window. The simulator never takes a COMn that a real port
# answers to. The tests (tools/test.sh) share the build folder and its build type, so
# switching between the two rebuilds nothing.
set -e
cd "$(dirname "$0")/.."
if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
    echo "No display: start tools/run.sh as the desktop user from a terminal in the desktop session (root is needed only for tools/install-deps.sh)." >&2
    exit 1
fi
tools/install-deps.sh run
# What configuring reports (optional parts of Qt and of the package that this program does
# not use) is kept in build/configure.log, and shown only when it fails.
mkdir -p build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >build/configure.log 2>&1 || { cat build/configure.log; exit 1; }
cmake --build build -j"$(nproc)" --target terminal-kontrol terminal-kontrol-sim
port=${TK_SIM_PORT-COM12}
if [ -n "$port" ]; then
    build/app/terminal-kontrol-sim --link "$port" >build/terminal-kontrol-sim.log 2>&1 &
    sim=$!
    trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null' EXIT INT TERM
    # The simulator's first lines say where it is, or why it did not link.
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        [ "$(wc -l <build/terminal-kontrol-sim.log)" -ge 2 ] && break
        sleep 0.2
    done
    head -n 2 build/terminal-kontrol-sim.log
    echo "frames it receives: build/terminal-kontrol-sim.log"
fi
build/app/terminal-kontrol

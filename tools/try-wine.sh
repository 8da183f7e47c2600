#!/bin/sh
# Tries the Windows set under wine: builds it (tools/build-windows.sh), then runs the installer
# silently in a fresh wine prefix under Xvfb and drives the window and the command line there
# (tools/winetrial.py), ending with the silent uninstall. The prefix lives in build-win/prefix.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh run wine wine64 xvfb xdotool x11-utils xclip ser2net python3 procps
sh tools/build-windows.sh >/dev/null
version=$(sed -n 's/.*programVersion\[\] = "\(.*\)";/\1/p' build-win/generated/buildinfo.h)
display=:$((90 + $$ % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
trap 'exit 1' INT TERM
sleep 1
python3 tools/winetrial.py --setup "$PWD/build-win/terminal-kontrol-$version-setup.exe" --version "$version" \
    --display "$display" --prefix "$PWD/build-win/prefix"

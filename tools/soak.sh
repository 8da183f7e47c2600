#!/bin/sh
# Fault soak under the sanitizers (build-asan), each scenario in its own process with a time
# limit: 100 open / 1 MB / far end gone / reopen cycles through the port link and 20 smaller
# ones through the main window and its console; 23 hostile settings files; 7 ports that are
# not ports (adapter unplugged, link to a file, /dev/null, a pipe...); two instances on one
# port; the window closed during the message command's wait 50 times; processor use after
# the far end closed and under a 4800-baud stream with no line ends onto a 256 KB line;
# 1000 rounds of data and clearing with the heap in use measured; one whole run from the
# port window to the end of the program's loop, closed during a wait; 20 frames of 20 KB to
# a far end reading 480 bytes a second (a 4800-baud line), other buttons pressed between
# them; 5000 message clicks as fast as events come; SIGTERM 20 times with a 20 KB frame on
# its way; how each end tells what became of its bytes (the command line to a line that takes
nothing, interrupted, stopped twice while draining, its output closed; the window's drain
stopped; the exit write-out ended by SIGTERM), 3 rounds. The summary counts
# crashes, leaks, hangs, failed checks and lost or reordered bytes. Not part of the quick
# test run; takes about 35 minutes, 14 of them the slow line and 18 the deaf server.
set -e
cd "$(dirname "$0")/.."
if [ -x tools/install-deps.sh ]; then tools/install-deps.sh; fi
. tools/sanitizers/env.sh
cmake -S . -B build-asan -DTK_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-asan --target tk_soak -j2 >/dev/null
soak=build-asan/tests/tk_soak/tk_soak
logs=build-asan/soak
mkdir -p "$logs"

limit=900
crashes=0 leaks=0 hangs=0 failures=0 lost=0 reordered=0 checks=0
run() {
    name=$1
    shift
    log=$logs/$name.log
    start=$(date +%s)
    set +e
    timeout "$limit" "$soak" "$@" >"$log" 2>&1
    rc=$?
    set -e
    seconds=$(( $(date +%s) - start ))
    verdict=ok
    if [ $rc -eq 124 ]; then
        hangs=$((hangs + 1)); verdict="HUNG (over $limit s)"
    elif grep -q 'ERROR: LeakSanitizer' "$log"; then
        leaks=$((leaks + 1)); verdict=LEAK
    elif [ $rc -gt 128 ] || grep -qE 'ERROR: AddressSanitizer|runtime error:' "$log"; then
        crashes=$((crashes + 1)); verdict=CRASH
    fi
    figures=$(grep "^soak $name:" "$log" || true)
    if [ -n "$figures" ]; then
        for field in checks failures lost reordered; do
            value=$(echo "$figures" | sed -n "s/.*$field=\([0-9]*\).*/\1/p")
            eval "$field=\$(( $field + value ))"
        done
        failed=$(echo "$figures" | sed -n 's/.*failures=\([0-9]*\).*/\1/p')
        if [ "$verdict" = ok ] && [ "$failed" -gt 0 ]; then verdict="$failed checks FAILED"; fi
    elif [ "$verdict" = ok ]; then
        verdict="NO FIGURES (exit $rc)"; failures=$((failures + 1))
    fi
    echo "== $name ($* ): $verdict in $seconds s"
    grep -vE '^soak |XDG_RUNTIME_DIR|propagateSizeHints' "$log" | grep -E '^(FAULT|cycles|settings file|two instances|closed in|processor|memory|trickle|whole run|port "|slow line|click storm|SIGTERM|ends|deaf server)' || true
    if [ "$verdict" != ok ]; then
        grep -E 'ERROR:|SUMMARY:|runtime error' "$log" | head -5
    fi
}

run cycles-link cycles 100 1048576
run cycles-window windowcycles 20 131072
run settings settings
run ports ports
run twoinstances twoinstances
run closeinwait closeinwait 50
run hangup hangup
run memory memory 1000
run trickle trickle 256 10
run wholerun wholerun
run slowline slowline 20 20000 480
run clickstorm clickstorm 5000
run sigterm sigterm 20
run ends ends 3
run deafserver deafserver 200

echo "soak: $checks checks, $failures failed, $crashes crashes, $leaks leaks, $hangs hangs, $lost bytes lost, $reordered bytes out of place"
[ $((failures + crashes + leaks + hangs + lost + reordered)) -eq 0 ]

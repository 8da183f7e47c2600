#!/usr/bin/env bash
# Sends `date` to 50 terminals behind one ser2net of its own on 127.0.0.1: 45 far ends on
# pseudo-terminals and 5 ports nothing listens on. Prints the total time, the slowest port
# (from --json) and how many far ends got the date frame. Starts and stops all it needs;
# the system's ser2net and /etc/ser2net.yaml stay untouched.
# Usage: tools/fleet-bench.sh [build dir [more options for the command line, e.g. -j 1]]
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build-cli}/app/terminal-kontrol-cli
[ $# -gt 0 ] && shift
served=45
refused=5

work=$(mktemp -d)
farend_pid=
ser2net_pid=
cleanup() {
    set +e
    for pid in $ser2net_pid $farend_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The far ends: one process holding every pseudo-terminal, reading what reaches each; on
# SIGTERM it says how many got exactly the 6 bytes of a date frame, and what the others got.
python3 -u - "$served" >"$work/farends" <<'EOF' &
import os, select, signal, sys
lines = {}
for _ in range(int(sys.argv[1])):
    master, slave = os.openpty()
    lines[master] = (slave, bytearray())
    print(os.ttyname(slave))
running = True
def stop(*_):
    global running
    running = False
signal.signal(signal.SIGTERM, stop)
while running:
    for master in select.select(list(lines), [], [], 0.1)[0]:
        lines[master][1].extend(os.read(master, 4096))
got = sum(1 for _, received in lines.values() if len(received) == 6 and received.startswith(b"@D"))
print(f"far ends: {got} of {len(lines)} got the 6 bytes of the date frame")
for _, received in lines.values():
    if not (len(received) == 6 and received.startswith(b"@D")):
        print("  got instead:", bytes(received).hex(" ") or "nothing")
EOF
farend_pid=$!

# Ports free now: the first ones for ser2net, the rest stay closed.
read -r -a ports < <(python3 - $((served + refused)) <<'EOF'
import socket, sys
held = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in held:
    s.bind(("127.0.0.1", 0))
print(" ".join(str(s.getsockname()[1]) for s in held))
EOF
)

for _ in $(seq 50); do
    [ "$(wc -l <"$work/farends")" -ge "$served" ] && break
    sleep 0.1
done
mapfile -t ptys < <(head -n "$served" "$work/farends")

config=$work/ser2net.yaml
targets=()
for i in $(seq 0 $((served - 1))); do
    cat >>"$config" <<EOF
connection: &line$i
  accepter: telnet(rfc2217),tcp,127.0.0.1,${ports[$i]}
  connector: serialdev,${ptys[$i]},4800n81,local
EOF
    targets+=(-p "rfc2217://127.0.0.1:${ports[$i]}")
done
for i in $(seq "$served" $((served + refused - 1))); do
    targets+=(-p "rfc2217://127.0.0.1:${ports[$i]}")
done

ser2net -n -d -c "$config" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
ser2net_pid=$!
listening() { ss -Hltn "sport = :${ports[$((served - 1))]}" | grep -q LISTEN; }
for _ in $(seq 50); do
    listening && break
    sleep 0.1
done
listening || { echo "ser2net did not start:"; cat "$work/ser2net.log"; exit 1; }

# The operator's own settings files stay out of the run.
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/config-machine
TIMEFORMAT='total: %3R s'
status=0
{ time "$cli" --json "$@" "${targets[@]}" date >"$work/results"; } 2>&1 || status=$?
echo "exit status: $status"
python3 - "$work/results" <<'EOF'
import collections, json, sys
ports = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
slowest = max(ports, key=lambda p: p["seconds"])
print(f'{len(ports)} ports; slowest: {slowest["target"]} {slowest["seconds"]:.3f} s ({slowest["result"]})')
for result, count in collections.Counter(p["result"] for p in ports).items():
    print(f"  {count} x {result}")
EOF

# The device server passes the last bytes on after the command line has gone.
sleep 1
kill "$farend_pid"
wait "$farend_pid" || true
farend_pid=
tail -n +$((served + 1)) "$work/farends"

#!/usr/bin/env bash
# A soak in real time: the headless relay, skyrelay-sim and skyrelay-session on loopback for the
# given number of seconds (default 600), 30 aircraft in the air at any time, five of them replaced
# by new peers every 10 s. Every 10 s it samples the relay's resident memory, open file
# descriptors and threads, and the bytes skyrelay-session has sent that the relay has not yet
# taken (its status line on SIGUSR1). After a warm-up of a fifth of the run, descriptors and
# threads must not change, resident memory must not grow by more than 512 KiB (not judged for a
# sanitized build), and the unsent bytes must stay below one second of traffic; the status is 1
# otherwise.
# Usage: scripts/soak.sh [SECONDS [BIN_DIR]]   (BIN_DIR default: build/debug/bin)
set -euo pipefail
duration="${1:-600}"
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="$(cd "${2:-$root/build/debug/bin}" && pwd)"
source "$root/tests/e2e/relay_stack.bash"
require_tools
[ -d /proc/self/fd ] || {
    echo "SKIP: no /proc to sample"
    exit 0
}
# A sanitized build's allocator keeps freed memory aside for a while, which reads as growth: its
# resident memory is reported but not judged (leaks are its own check, at exit).
sanitized=0
grep -qa __asan_init "$bin/skyrelay" && sanitized=1
setup_world 0 0
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$fs_dir/FS2002.cfg"

# Positions every 500 ms for the 30 flying; every 20 steps the five oldest leave and five join.
python3 - "$duration" >"$work/scenario.txt" <<'EOF'
import sys
steps = int(sys.argv[1]) * 2 + 40
flying, next_peer = [], 0
def join():
    global next_peer
    print(f"join S{next_peer}")
    flying.append(f"S{next_peer}")
    next_peer += 1
for _ in range(30):
    join()
for step in range(steps):
    if step and step % 20 == 0:
        for name in flying[:5]:
            print(f"leave {name}")
        del flying[:5]
        for _ in range(5):
            join()
    for i, name in enumerate(flying):
        print(f"pos {name} 655360 6553600 {i * 64} {-10001750 + step} 536870912 {100 + i} 0")
    print("wait 500")
EOF

start_sim
start_session "$work/scenario.txt"
session_pid="${pids[-1]}"
start_relay
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "simulator detection"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "connection"

sample() {
    local rss threads fds unsent
    rss="$(awk '/^VmRSS:/ {print $2}' "/proc/$relay_pid/status")"
    threads="$(awk '/^Threads:/ {print $2}' "/proc/$relay_pid/status")"
    fds="$(find "/proc/$relay_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)"
    local before
    before="$(count_lines "$work/session.out" '^status: ')"
    kill -USR1 "$session_pid"
    wait_for_line "$work/session.out" '^status: ' 10 "skyrelay-session's status" $((before + 1))
    unsent="$(grep '^status: ' "$work/session.out" | tail -n 1 |
        sed 's/.* \([0-9]*\) bytes unsent.*/\1/')"
    echo "$1 $rss $threads $fds $unsent"
}

start=$SECONDS
: >"$work/samples"
echo "seconds rss_kib threads fds unsent_bytes"
while [ $((SECONDS - start)) -lt "$duration" ]; do
    kill -0 "$relay_pid" 2>/dev/null || fail "the relay is gone"
    sample $((SECONDS - start)) | tee -a "$work/samples"
    sleep 10
done
sample $((SECONDS - start)) | tee -a "$work/samples"
records="$(count_lines "$work/sim.log" '^write 0x1F80 ')"

say "Exit"
wait_relay_exit
[ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status"

python3 - "$work/samples" "$duration" "$records" "$sanitized" <<'EOF' || fail "not flat"
import sys
rows = [list(map(int, line.split())) for line in open(sys.argv[1])]
warm = [r for r in rows if r[0] >= int(sys.argv[2]) // 5] or rows[-1:]
first, last = warm[0], warm[-1]
problems = []
if sys.argv[4] == "1":
    print("a sanitized build: resident memory is not judged")
elif last[1] - first[1] > 512:
    problems.append(f"resident memory grew from {first[1]} to {last[1]} KiB")
if any(r[2] != first[2] for r in warm):
    problems.append(f"threads changed: {sorted({r[2] for r in warm})}")
if any(r[3] != first[3] for r in warm):
    problems.append(f"file descriptors changed: {sorted({r[3] for r in warm})}")
# 30 messages of 78 bytes on the wire every 500 ms: a second of traffic is under 5 KiB.
if max(r[4] for r in rows) > 5000:
    problems.append(f"up to {max(r[4] for r in rows)} bytes waited unsent")
print(f"after warm-up: rss {first[1]}..{last[1]} KiB (max {max(r[1] for r in warm)}), "
      f"threads {first[2]}, fds {first[3]}, unsent max {max(r[4] for r in rows)} bytes, "
      f"{sys.argv[3]} records reached the simulator")
if problems:
    sys.exit("; ".join(problems))
EOF
echo "PASS: soak of $duration s"

#!/usr/bin/env bash
# One end-to-end run of the relay under valgrind's memcheck: skyrelay-sim and skyrelay-session as
# usual, the headless relay under valgrind, through detection, a join from the menu, traffic, the
# session lost, a second join and File > Exit while joined. Fails on any memory error or on memory lost at exit (definitely
# or indirectly); what is still reachable at exit is listed by where it was allocated.
# Usage: scripts/valgrind.sh [BIN_DIR]   (default: build/debug/bin, built first)
# The full report is kept in valgrind/relay.txt beside BIN_DIR (build/debug/valgrind/relay.txt).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${1:-}"
if [ -z "$bin" ]; then
    cd "$root"
    cmake --preset debug >/dev/null
    cmake --build --preset debug -j "$(nproc 2>/dev/null || echo 2)" >/dev/null
    bin="$root/build/debug/bin"
fi
command -v valgrind >/dev/null || { echo "valgrind is not installed (scripts/setup.sh installs it)"; exit 1; }

source "$root/tests/e2e/relay_stack.bash"
require_tools
report_dir="$(cd "$bin/.." && pwd)/valgrind"
mkdir -p "$report_dir"
setup_world 0 0
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$fs_dir/FS2002.cfg"
{
    echo "join Bravo"
    echo "join Crawler"
    for i in $(seq 1 120); do
        echo "$bravo_pos"
        echo "pos Crawler 0 1011438 0 0 0 0 0"
        echo "wait 250"
        [ "$i" -ne 40 ] || echo "system sessionlost"
    done
} >"$work/scenario.txt"

start_sim
start_session "$work/scenario.txt"
mkfifo "$work/relay.in"
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=all \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --num-callers=12 \
    --log-file="$work/valgrind.txt" \
    "$bin/skyrelay" --headless <"$work/relay.in" >"$work/relay.out" 2>"$work/relay.err" &
relay_pid=$!
pids+=("$relay_pid")
exec 3>"$work/relay.in"

wait_for_line "$work/relay.err" '^status: FS Detected$' 120 "simulator detection"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 120 "connection"
wait_for_line "$work/sim.log" '^write 0x1F80 ' 120 "traffic record"
wait_for_line "$work/relay.err" '^status: FS Detected$' 120 "the session's end" 2
# The connect items stay grayed after a session; an option command sets them again.
say "Manual connect only"
say "Manual connect only"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 120 "second connection" 2
# The pump runs again (the drain stays off after a session has ended); then Exit while joined.
sleep 3
say "Exit"
deadline=$((SECONDS + 120))
while kill -0 "$relay_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the relay did not end within 120 s"
    sleep 0.2
done
relay_status=0
wait "$relay_pid" || relay_status=$?
cp "$work/valgrind.txt" "$report_dir/relay.txt"

sed -n '/HEAP SUMMARY/,$p' "$work/valgrind.txt" | sed 's/^==[0-9]*== //'
echo
echo "Still reachable at exit, by allocating function in the relay:"
python3 - "$work/valgrind.txt" <<'EOF'
import re, sys
lines = [re.sub(r"^==\d+== ?", "", line) for line in open(sys.argv[1]).read().splitlines()]
for i, line in enumerate(lines):
    head = re.match(r"([\d,]+) bytes in ([\d,]+) blocks are still reachable", line)
    if not head:
        continue
    site = "?"
    for frame in lines[i + 1:]:
        if not frame.strip():
            break
        if "vgpreload" not in frame and "libstdc++" not in frame and "libc.so" not in frame:
            site = re.sub(r"^\s*(at|by) 0x[0-9A-F]+: ", "", frame)
            break
    print(f"  {head.group(1)} bytes in {head.group(2)} blocks: {site}")
EOF
[ "$relay_status" -eq 0 ] || fail "valgrind reports errors or leaks (status $relay_status); see $report_dir/relay.txt"
echo "PASS: no memory error and nothing lost; full report in $report_dir/relay.txt"

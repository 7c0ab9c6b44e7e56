#!/usr/bin/env bash
# The relay end to end in automatic mode ("Using SquawkBox" on, "Manual connect only" off): the
# headless skyrelay, skyrelay-sim and skyrelay-session replaying a script, each its own process.
# The relay detects the simulator, joins by itself, relays the one fast aircraft (never the slow
# one) to the simulator and to "AIFile" with exactly the expected values, goes back to "FS
# Detected" when the session is lost, keeps the last picture (which read_aifile and the Python
# snippet of docs/shared-blocks.md read as skyrelay-aifile does), and on Exit ends with status 0,
# leaving "AIFile" with both header words 0 and the records in place.
# Usage: relay_automatic.sh BIN_DIR
set -euo pipefail
bin="$1"
source "$(dirname "$0")/relay_stack.bash"
require_tools
setup_world 1 0

# A start-up failure is no success: when COM cannot start, its message and a non-zero status,
# and no dialog (no path or status line).
com_status=0
SKYRELAY_FAIL_COM=1 timeout 20 "$bin/skyrelay" --headless </dev/null >/dev/null \
    2>"$work/com.err" || com_status=$?
[ "$com_status" -ne 0 ] && [ "$com_status" -ne 124 ] || fail "COM failure: exit status $com_status"
[ "$(cat "$work/com.err")" = "box: Co initialize error. Skyrelay will quit." ] ||
    fail "COM failure: $(cat "$work/com.err")"

# Alpha: vertical speed -655360 (-600 ft/min), ground speed 12739190 on the SquawkBox scale
# (110 knots), heading word 0xFFFFFFFF (65472), latitude 4445222 (39.999996), longitude
# -1073741824 (-90), altitude 1000 m + 32768/65536 (3282.4805 ft).
# Slowpoke: ground speed 3474324 on the same scale is 29.999994 knots, under the threshold.
scenario="$work/scenario.txt"
{
    echo "join Alpha"
    echo "join Slowpoke"
    for _ in $(seq 1 24); do
        echo "pos Alpha -655360 12739190 0xFFFFFFFF 4445222 -1073741824 1000 32768"
        echo "pos Slowpoke 0 3474324 0 0 0 100 0"
        echo "wait 500"
    done
    echo "system sessionlost"
} >"$scenario"

start_sim
start_session "$scenario"
start_relay

wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "connection"
wait_for_line "$work/session.out" '^scenario: finished$' 60 "end of the scenario"
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "return to FS Detected" 2

# The relay joined under its SquawkBox name; Alpha's record carries Alpha's player id.
grep -qE '^joined: Skyrelay \(player [0-9]+, remote\)$' "$work/session.out" ||
    fail "the relay did not join as Skyrelay"
alpha_id="$(player_id Alpha)"
[ -n "$alpha_id" ] || fail "no player id for Alpha"

# The simulator got Alpha's 40-byte record, and only that: id, latitude 39.999996, longitude -90,
# altitude 3282.4805, heading 65472, ground speed 110, vertical speed -600, "Alpha".
check_sim_records "$(record_id_hex "$alpha_id")ffff1f420000b4c2b0274d45c0ff6e00a8fd416c70686100000000000000000000000000"

# The last picture stays after the session: heading 359.65393, ground speed 110.0, -600.0.
alpha_shared="ffff1f42 0000b4c2 b0274d45 b4d3b343 0000dc42 000016c4"
check_aifile_json 2 1 "${alpha_shared// /}"
check_other_readers

[ "$(cat "$work/relay.err")" = "path: $fs_dir
status: FS Detected
status: Connected to a session
status: FS Detected" ] || fail "the relay's report lines"

say "Exit"
wait_relay_exit
[ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status"
check_aifile_json 0 0
check_aifile_bytes "0000000000000000" "${alpha_shared// /}"
echo "PASS: automatic relay"

#!/usr/bin/env bash
# Every way a session can end under the relay, one row each, each row its own world: the session
# host killed, DPSYS_SESSIONLOST (49), DPSYS_HOST (257), the host's refusal (4102, with its box)
# and the simulator's end message (4118). In every row the relay goes back to "FS Detected", its
# pump stops (no further record reaches skyrelay-sim and "AIFile" keeps the last picture), and a
# new connection from the menu joins a new host afterwards and relays its traffic.
# Usage: relay_session_end.sh BIN_DIR [ROW]   (without ROW, every row, side by side)
set -euo pipefail
bin="$1"
rows=(kill sessionlost host refusal simulatorend)
if [ $# -lt 2 ]; then
    source "$(dirname "$0")/rows.bash"
    run_rows_side_by_side "$0" "$bin" "${rows[@]}"
fi
row="$2"
source "$(dirname "$0")/relay_stack.bash"
require_tools
setup_world 0 0
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$fs_dir/FS2002.cfg"

# Bravo as in the manual test (latitude -90, longitude 45, altitude -10 m, 194 knots, 600 ft/min)
# for about 2 s, then the row's ending.
scenario="$work/scenario.txt"
{
    echo "join Bravo"
    for _ in $(seq 1 20); do
        echo "$bravo_pos"
        echo "wait 100"
    done
    case "$row" in
    kill) echo "wait 600000" ;;
    sessionlost) echo "system sessionlost" ;;
    host) echo "system host" ;;
    refusal) echo "send Bravo 06100000" ;;
    simulatorend) echo "send Bravo 16100000" ;;
    *) fail "unknown row $row" ;;
    esac
} >"$scenario"

start_sim
start_session "$scenario"
session_pid="${pids[-1]}"
start_relay
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "simulator detection"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "connection"
wait_for_line "$work/session.out" '^sent: position from Bravo' 60 "Bravo's positions" 20
if [ "$row" = kill ]; then
    kill -KILL "$session_pid"
    wait "$session_pid" 2>/dev/null || true
fi
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "return to FS Detected" 2

bravo_id="$(player_id Bravo)"
bravo_record="$(record_id_hex "$bravo_id")$bravo_tail"
check_sim_records "$bravo_record"
check_aifile_json 2 1 "$bravo_shared"

# The pump has stopped: over six pump periods nothing more reaches the simulator, and the picture
# stays although the table would have been emptied by then.
records="$(count_lines "$work/sim.log" '^write 0x1F80 ')"
sleep 2
[ "$(count_lines "$work/sim.log" '^write 0x1F80 ')" -eq "$records" ] ||
    fail "records reached the simulator after the session ended"
check_aifile_json 2 1 "$bravo_shared"

expected="path: $fs_dir
status: FS Detected
status: Connected to a session"
[ "$row" = refusal ] &&
    expected="$expected
box: Refused Connection as an Observer. No Multiplayer available."
expected="$expected
status: FS Detected"
[ "$(cat "$work/relay.err")" = "$expected" ] || fail "the relay's report lines"

# A new connection to a new host, where Charlie flies as Bravo did but on the equator: his record
# reaches the simulator, and once the table has been emptied "AIFile" holds him alone.
kill -TERM "$session_pid" 2>/dev/null || true
wait "$session_pid" 2>/dev/null || true
{
    echo "join Charlie"
    for _ in $(seq 1 150); do
        echo "pos Charlie 655360 6553600 0x800 0 536870912 -10 0"
        echo "wait 100"
    done
    echo "wait 600000"
} >"$work/again.txt"
: >"$work/session.out"
start_session "$work/again.txt"
say "Manual connect only"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "second connection" 2
wait_for_line "$work/session.out" '^joined: Maverickai \(player [0-9]+, remote\)$' 60 "second join"
charlie_record="$(record_id_hex "$(player_id Charlie)")0000000000003442cd3b03c20080c20058024368\
61726c69650000000000000000000000"
charlie_shared="0000000000003442cd3b03c2b40034430000424300001644"
wait_for_line "$work/sim.log" "^write 0x1F80 40 $charlie_record\$" 60 "Charlie's record"
deadline=$((SECONDS + 30))
until (check_aifile_json 2 1 "$charlie_shared") >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$deadline" ] || fail "\"AIFile\" never held Charlie alone"
    sleep 0.2
done
kill -0 "$relay_pid" || fail "the relay is gone"
say "Exit"
wait_relay_exit
[ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status"
echo "PASS: $row"

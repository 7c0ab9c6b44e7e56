#!/usr/bin/env bash
# The relay joins from its menu before any simulator runs: "AIFile" shows the traffic at once, the
# detection keeps trying, and once skyrelay-sim starts seconds later every aircraft reaches it as
# its exact 40-byte record. The status line stays "Connected to a session" throughout (never
# emptied by link failures) until the session ends.
# Usage: relay_menu_first.sh BIN_DIR
set -euo pipefail
bin="$1"
source "$(dirname "$0")/relay_stack.bash"
require_tools
setup_world 0 0
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$fs_dir/FS2002.cfg"

# Bravo as in the manual test: latitude -90, longitude 45, altitude -10 m, heading word 0x800,
# 194 knots, 600 ft/min; about 16 s of messages after the relay joins.
scenario="$work/scenario.txt"
{
    echo "join Bravo"
    for _ in $(seq 1 64); do
        echo "$bravo_pos"
        echo "wait 250"
    done
    echo "end"
} >"$scenario"

start_session "$scenario"
start_relay
wait_for_line "$work/relay.err" '^path: ' 60 "the relay's start"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "connection"
bravo_shared="0000b4c2 00003442 cd3b03c2 b4003443 00004243 00001644"
sleep 3
check_aifile_json 2 1 "${bravo_shared// /}"

# The simulator comes later; its first records follow within a few seconds.
sleep 5
start_sim
bravo_id="$(player_id Bravo)"
[ -n "$bravo_id" ] || fail "no player id for Bravo"
wait_for_line "$work/sim.log" '^write 0x1F80 ' 30 "the first traffic record in the simulator"
wait_for_line "$work/session.out" '^session closed: ' 60 "end of the session"
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "return to FS Detected"
check_sim_records "$(record_id_hex "$bravo_id")$bravo_tail"

[ "$(cat "$work/relay.err")" = "path: $fs_dir
status: Connected to a session
status: FS Detected" ] || fail "the relay's report lines"

kill -TERM "$relay_pid"
wait_relay_exit
[ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status after SIGTERM"
echo "PASS: menu join before the simulator"

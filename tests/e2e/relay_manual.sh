#!/usr/bin/env bash
# The relay end to end in manual mode ("Using SquawkBox" off): the headless skyrelay joins only
# when "TCP/IP" is chosen from its menu (on stdin), after the simulator has been detected. Its
# player is named after the user's multiplayer name from FS2002.cfg in the simulator's folder
# with "ai" appended, a peer flying under the user's own name is never relayed, ground speeds are
# read in metres per second, and the session's end brings back "FS Detected" with the last
# picture kept. SIGTERM then ends the relay like Exit, with status 0 and "AIFile" closed.
# Usage: relay_manual.sh BIN_DIR
set -euo pipefail
bin="$1"
source "$(dirname "$0")/relay_stack.bash"
require_tools
setup_world 0 0
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$fs_dir/FS2002.cfg"

# Bravo: vertical speed 655360 (600 ft/min), ground speed 6553600 in metres per second with 16
# fractional bits (194.38461 knots), heading word 0x800 (32768), latitude -10001750 (-90),
# longitude 536870912 (45), altitude -10 m (-32.8084 ft).
# Maverick: the user's own name, as fast as Bravo: ignored.
# Crawler: ground speed 1011438 is 29.999998 knots, under the threshold.
scenario="$work/scenario.txt"
{
    echo "join Bravo"
    echo "join Maverick"
    echo "join Crawler"
    for _ in $(seq 1 40); do
        echo "$bravo_pos"
        echo "pos Maverick 655360 6553600 0x800 100 100 100 0"
        echo "pos Crawler 0 1011438 0 0 0 0 0"
        echo "wait 250"
    done
    echo "end"
} >"$scenario"

start_sim
start_session "$scenario"
start_relay

# No attempt by itself: the menu command comes once the simulator is detected.
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "simulator detection"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "connection"
wait_for_line "$work/session.out" '^session closed: ' 60 "end of the session"
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "return to FS Detected" 2

grep -qE '^joined: Maverickai \(player [0-9]+, remote\)$' "$work/session.out" ||
    fail "the relay did not join as Maverickai"
bravo_id="$(player_id Bravo)"
[ -n "$bravo_id" ] || fail "no player id for Bravo"

# Bravo's record only: latitude -90, longitude 45, altitude -32.8084, heading 32768, ground
# speed 194, vertical speed 600, "Bravo".
check_sim_records "$(record_id_hex "$bravo_id")$bravo_tail"

# Heading 180.00275, ground speed 194.0, vertical speed 600.0.
bravo_shared="0000b4c2 00003442 cd3b03c2 b4003443 00004243 00001644"
check_aifile_json 2 1 "${bravo_shared// /}"

[ "$(cat "$work/relay.err")" = "path: $fs_dir
status: FS Detected
status: Connected to a session
status: FS Detected" ] || fail "the relay's report lines"

kill -TERM "$relay_pid"
wait_relay_exit
[ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status after SIGTERM"
check_aifile_json 0 0
check_aifile_bytes "0000000000000000" "${bravo_shared// /}"
echo "PASS: manual relay"

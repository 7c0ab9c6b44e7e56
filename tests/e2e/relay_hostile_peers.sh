#!/usr/bin/env bash
# Hostile peers against the whole relay, one row each, each row its own world. Every aircraft
# flies Bravo's values of the manual test, so each record the simulator receives is Bravo's 40
# bytes with the sender's id and name; the simulator's log must hold exactly the records the
# rules keep, each of them at least once, and nothing else:
#   burst       10,000 messages in one tick: 9,999 positions from Junk, then one from Bravo
#   flood       five bursts of 100,000 positions from Junk (the session stand-in keeps at most
#               10,000 waiting), then Bravo's positions and the session's end: the relay keeps
#               up, shows both, and the system message still ends the session; a menu command
#               given during the flood takes effect (the time it took is printed, not judged)
#   peers       100 distinct peers, each sending in turn, three times: the first 30 are kept, the
#               other 70 are dropped until the table is next emptied, where the same 30 come first
#   longnames   1,000-byte names, one with control bytes; two that agree in their first 17 bytes
#               share one entry; a peer renamed mid-session is a new aircraft under its new name
#   lengths     a position message cut to every length from 1 to 57 bytes (never relayed), and
#               from 58 to 70 (relayed); full messages of six types the relay does not know
# Usage: relay_hostile_peers.sh BIN_DIR [ROW]
set -euo pipefail
bin="$1"
rows=(burst flood peers longnames lengths)
if [ $# -lt 2 ]; then
    for row in "${rows[@]}"; do
        echo "---- $row"
        bash "$0" "$bin" "$row" || exit 1
    done
    echo "PASS: hostile peers"
    exit 0
fi
row="$2"
source "$(dirname "$0")/relay_stack.bash"
require_tools
setup_world 0 0
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$fs_dir/FS2002.cfg"

# Bravo's position message: vertical speed 655360, ground speed 6553600, heading word 0x800,
# latitude -10001750, longitude 536870912, altitude -10 m.
bravo="19100000000000000000000000000000000000000000000000000a00000064000000000000080000aa6267ff00000020f6ffffff000000000000"
pos_args="655360 6553600 0x800 -10001750 536870912 -10 0"
long1="Longname_number_1$(printf 'a%.0s' $(seq 1 983))"
long2="Longname_number_1$(printf 'b%.0s' $(seq 1 983))"
long3="%01%02%20%7F%FF$(printf 'c%.0s' $(seq 1 995))"

# Writes the row's scenario; the names whose records must reach the simulator go to kept.txt,
# one a line, as the relay stores them (at most 17 bytes, escapes written as %XX).
scenario="$work/scenario.txt"
case "$row" in
burst)
    {
        echo "join Junk"
        echo "join Bravo"
        echo "burst Junk 9999 $bravo"
        echo "pos Bravo $pos_args"
        echo "wait 3000"
    } >"$scenario"
    printf 'Junk\nBravo\n' >"$work/kept.txt"
    ;;
flood)
    {
        echo "join Junk"
        echo "join Bravo"
        for _ in 1 2 3 4 5; do echo "burst Junk 100000 $bravo"; done
        echo "wait 1000"
        for _ in $(seq 1 10); do
            echo "pos Bravo $pos_args"
            echo "wait 300"
        done
        echo "system sessionlost"
    } >"$scenario"
    printf 'Junk\nBravo\n' >"$work/kept.txt"
    ;;
peers)
    {
        for i in $(seq -w 0 99); do echo "join P0$i"; done
        for _ in 1 2 3; do
            for i in $(seq -w 0 99); do echo "pos P0$i $pos_args"; done
            echo "wait 6000"
        done
    } >"$scenario"
    for i in $(seq -w 0 29); do echo "P0$i"; done >"$work/kept.txt"
    ;;
longnames)
    {
        echo "join $long1"
        echo "join $long2"
        echo "join $long3"
        echo "join Before"
        for name in "$long1" "$long2" "$long3" Before; do echo "pos $name $pos_args"; done
        echo "wait 2000"
        echo "rename Before After"
        echo "pos After $pos_args"
        echo "wait 3000"
    } >"$scenario"
    printf 'Longname_number_1\n%%01%%02%%20%%7F%%FFcccccccccccc\nBefore\nAfter\n' >"$work/kept.txt"
    ;;
lengths)
    {
        echo "join Short"
        echo "join Echo"
        echo "join Odd"
        for n in $(seq 1 57); do echo "send Short ${bravo:0:$((2 * n))}"; done
        extra=""
        for _ in $(seq 58 70); do
            echo "send Echo $bravo$extra"
            extra="${extra}ee"
        done
        for type in 00000000 32000000 00010000 18100000 1a100000 ffffffff; do
            echo "send Odd $type${bravo:8}"
        done
        echo "wait 3000"
    } >"$scenario"
    printf 'Echo\n' >"$work/kept.txt"
    ;;
*) fail "unknown row $row" ;;
esac

start_sim
start_session "$scenario"
start_relay
wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "simulator detection"
say "TCP/IP"
wait_for_line "$work/relay.err" '^status: Connected to a session$' 60 "connection"
if [ "$row" = flood ]; then
    wait_for_line "$work/session.out" '^sent: burst ' 60 "the first burst"
    settings="$(cat "$SKYRELAY_CONFIG_DIR/Skyrelay.ini")"
    asked="$(date +%s%N)"
    say "Manual connect only"
    deadline=$((SECONDS + 30))
    while [ "$(cat "$SKYRELAY_CONFIG_DIR/Skyrelay.ini")" = "$settings" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "a menu command during the flood had no effect"
        sleep 0.005
    done
    echo "a menu command during the flood took $((($(date +%s%N) - asked) / 1000000)) ms"
    [ "$(count_lines "$work/session.out" '^sent: burst ')" -lt 5 ] ||
        echo "(the flood had ended by then)"
fi
wait_for_line "$work/session.out" '^scenario: finished$' 120 "end of the scenario"
# Two publications at least after the last message.
sleep 3
kill -0 "$relay_pid" || fail "the relay is gone"

# Every record in the simulator's log is Bravo's values under a kept name with that peer's id,
# and every kept name appears. A name's id is the last player that spoke under it.
python3 - "$work/session.out" "$work/sim.log" "$work/kept.txt" <<'EOF' || fail "the records"
import re, sys, urllib.parse
fields = "0000b4c200003442cd3b03c20080c2005802"
ids = {}
for line in open(sys.argv[1], "rb").read().split(b"\n"):
    m = re.match(rb"^joined: (.*) \(player (\d+), peer\)$", line)
    if m:
        ids[m.group(1)] = int(m.group(2))
    m = re.match(rb"^renamed: player (\d+) is now (.*)$", line)
    if m:
        ids[m.group(2)] = int(m.group(1))
stored = {}
for name, player in ids.items():
    stored.setdefault(name[:17], set()).add(player)
expected = {}
for line in open(sys.argv[3]).read().splitlines():
    name = urllib.parse.unquote_to_bytes(line)
    expected[name] = {(p & 0xFFFF).to_bytes(4, "little").hex() + fields +
                      name.ljust(18, b"\0").hex() for p in stored[name]}
got = {}
for line in open(sys.argv[2]).read().splitlines():
    if line.startswith("write 0x1F80 "):
        _, _, size, record = line.split()
        got[record] = got.get(record, 0) + 1
allowed = set().union(*expected.values())
problems = [f"unexpected record {r} x{n}" for r, n in got.items() if r not in allowed]
problems += [f"no record for {name!r}" for name, records in expected.items()
             if not records & got.keys()]
if problems:
    sys.exit("\n".join(problems[:10]))
print(f"{sum(got.values())} records, {len(got)} distinct, all kept and expected")
EOF
case "$row" in
burst) grep -q '^sent: burst from Junk, 9999 x 58 bytes, to 1 players' "$work/session.out" ||
    fail "the burst was not sent" ;;
flood) wait_for_line "$work/relay.err" '^status: FS Detected$' 30 "the end of the session" 2 ;;
esac
say "Exit"
wait_relay_exit
[ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status"
echo "PASS: $row"

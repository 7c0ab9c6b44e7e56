#!/usr/bin/env bash
# A Windows DirectPlay client under Wine 10 finds and joins skyrelay-session --directplay over
# TCP/IP and receives the peers, their messages with the senders' names, and the session's
# end. Wine 10 (Debian 13, in a root of its own made on first use) is the only DirectPlay here
# that can join a session; everything runs in a private network namespace on loopback, so
# nothing leaves the machine. The first client is dp_probe.exe, which joins the way the relay
# does: by the lobby's address for 127.0.0.1, by the connection as offered, and again after a
# session lost. Then Skyrelay.exe itself joins, by itself ("Using SquawkBox" on) and from its menu's
# TCP/IP command, driven from outside by dialog_driver.exe, with skyrelay-sim.exe as the
# simulator: the peers' positions must reach the simulator's log and "AIFile" (read by
# skyrelay-aifile.exe in another process) byte for byte, the slow peer and the one flying under
# the user's own name never, and the session lost must stop the pump. Last, the simulator is
# ended and started again under a joined relay, and skyrelay-aifile.exe --stats must say so.
# Wine's null display driver gives the windows a desktop; no X server is needed.
#
# The 32-bit programs run the same rounds through Wine's 32-bit side under qemu-i386, against a
# host that speaks to 32-bit clients (--client32: their session description and player id reply).
#
# Usage: wine10_session.sh LINUX_BIN_DIR WINDOWS_BIN_DIR [x86_64|i686]
#   LINUX_BIN_DIR holds skyrelay-session (the debug preset's build/debug/bin), WINDOWS_BIN_DIR
#   dp_probe.exe, Skyrelay.exe, skyrelay-sim.exe, skyrelay-aifile.exe, dialog_driver.exe and
#   dialog_probe.dll (the mingw preset's build/mingw/bin, or the mingw-i686 preset's
#   build/mingw-i686/bin with i686).
# Environment: SKYRELAY_WINE10_ROOT, where the Debian 13 root with Wine 10 is kept
#   (default /var/tmp/skyrelay-wine10; about 4 GB, made in a few minutes, then reused).
# Exit status: 0 passed, 1 failed, 77 skipped (the reason on one line).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine10_chroot.bash"

skip() {
    echo "SKIP wine10_session: $*"
    exit 77
}

if [ $# -ne 2 ] && [ $# -ne 3 ]; then
    echo "usage: $0 LINUX_BIN_DIR WINDOWS_BIN_DIR [x86_64|i686]" >&2
    exit 2
fi
arch=${3:-x86_64}
# What differs with the programs' build: the host's layouts, the run's folder, and the sizes of
# the session description and of a new player's system message (with its name) as the client's
# DirectPlay gives them.
case $arch in
x86_64) preset=mingw need="" host_layout="" run_name=run session_size=88 created_size=70 ;;
i686)
    preset=mingw-i686 need=i386 host_layout=--client32 run_name=run-i686
    session_size=80 created_size=54
    ;;
*) echo "$0: no such architecture: $arch" >&2; exit 2 ;;
esac
session_bin=$(cd "$1" 2>/dev/null && pwd || true)/skyrelay-session
windows_bin=$(cd "$2" 2>/dev/null && pwd || true)
windows_programs=(dp_probe.exe Skyrelay.exe skyrelay-sim.exe skyrelay-aifile.exe dialog_driver.exe
    dialog_probe.dll)
[ -x "$session_bin" ] || skip "no skyrelay-session in $1 (build the debug preset first)"
for program in "${windows_programs[@]}"; do
    [ -f "$windows_bin/$program" ] || skip "no $program in $2 (build the $preset preset first)"
done
wine10_prepare "$need" || skip "$wine10_why"

# The run's files live inside the root, where the Windows programs see them; the prefix is kept.
state=$wine10_state
run_dir="$wine10_root$state/$run_name"
rm -rf "$run_dir"
mkdir -p "$run_dir"
for program in "${windows_programs[@]}"; do cp "$windows_bin/$program" "$run_dir/"; done
# The simulator's folder for the relay, with the user's multiplayer name.
mkdir -p "$run_dir/FS2002"
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$run_dir/FS2002/FS2002.cfg"
cat >"$run_dir/scenario.txt" <<'EOF'
join PEER1
wait 300
pos PEER1 0 3000000 2048 1000000 -2000000 500 32768
join PEER2
wait 300
send PEER2 0x31000000
system host
wait 300
system sessionlost
wait 300
end
EOF
cat >"$run_dir/rejoin.txt" <<'EOF'
join PEER1
wait 300
system sessionlost
wait 9000
pos PEER1 0 3000000 2048 1000000 -2000000 500 32768
wait 300
end
EOF
cat >"$run_dir/menu.txt" <<'EOF'
join PEER1
wait 300
pos PEER1 0 3000000 2048 1000000 -2000000 500 32768
wait 300
end
EOF

# The relay by itself ("Using SquawkBox" on, so ground speeds on the SquawkBox scale):
# Alpha: vertical speed -655360 (-600 ft/min), ground speed 12739190 (110 knots), heading word
# 0xFFFFFFFF (65472), latitude 4445222 (39.999996), longitude -1073741824 (-90), altitude 1000 m +
# 32768/65536 (3282.4805 ft). Slowpoke: 3474324 is 29.999994 knots, not relayed. Maverick: as fast
# as Alpha, but the user's own name, not relayed.
{
    echo "join Alpha"
    echo "join Slowpoke"
    echo "join Maverick"
    for _ in $(seq 1 20); do
        echo "pos Alpha -655360 12739190 0xFFFFFFFF 4445222 -1073741824 1000 32768"
        echo "pos Slowpoke 0 3474324 0 0 0 100 0"
        echo "pos Maverick -655360 12739190 0 100 100 100 0"
        echo "wait 500"
    done
    echo "system sessionlost"
} >"$run_dir/relay.txt"
# The relay from its menu ("Using SquawkBox" off, metres per second): Bravo: vertical speed
# 655360 (600 ft/min), ground speed 6553600 (194.38461 knots), heading word 0x800 (32768),
# latitude -10001750 (-90), longitude 536870912 (45), altitude -10 m (-32.8084 ft). Crawler:
# 1011438 is 29.999998 knots. `end` sends the session lost.
{
    echo "join Bravo"
    echo "join Maverick"
    echo "join Crawler"
    for _ in $(seq 1 16); do
        echo "pos Bravo 655360 6553600 0x800 -10001750 536870912 -10 0"
        echo "pos Maverick 655360 6553600 0x800 100 100 100 0"
        echo "pos Crawler 0 1011438 0 0 0 0 0"
        echo "wait 250"
    done
    echo "end"
} >"$run_dir/relaymenu.txt"
# The simulator started again under the relay: Bravo flies for 30 s.
{
    echo "join Bravo"
    for _ in $(seq 1 120); do
        echo "pos Bravo 655360 6553600 0x800 -10001750 536870912 -10 0"
        echo "wait 250"
    done
    echo "end"
} >"$run_dir/restart.txt"
# What each relay round must leave, as "AIFile" stores it (little-endian float bits): latitude,
# longitude, altitude, heading degrees, ground speed, vertical speed. Alpha: heading 359.65393,
# 110.0 knots, -600.0 ft/min; Bravo: 180.00275, 194.0, 600.0.
alpha_shared=ffff1f420000b4c2b0274d45b4d3b3430000dc42000016c4
bravo_shared=0000b4c200003442cd3b03c2b40034430000424300001644
export alpha_shared bravo_shared

# Runs in the namespace (wine10_in_namespace).
inside() {
    set -euo pipefail
    local prefix="$wine10_root$state/prefix"
    export WINEDEBUG="-all,err+dplay,+seh"
    probe() {
        wine10_run timeout 90 wine "$state/$run_name/dp_probe.exe" "$@" >"$run_dir/$round.probe" \
            2>"$run_dir/$round.wine" || echo "probe exit $?" >>"$run_dir/$round.probe"
    }
    # relay USING_SB RECORDS [STEP...]: Skyrelay.exe with that setting and skyrelay-sim.exe,
    # driven through the STEPs that make it join, then to the end of the session and of the
    # tick that ended it, a reading of "AIFile", the check that no pump runs, and File > Exit,
    # after which "AIFile" must hold RECORDS with both header words 0.
    relay() {
        local using_sb=$1 records=$2 run="Z:${state//\//\\}\\$run_name"
        shift 2
        printf '[Skyrelay]\r\nFSPath=%s\\FS2002\r\nUsingSB=%s\r\nManualConnect=0\r\n' \
            "$run" "$using_sb" >"$prefix/drive_c/windows/Skyrelay.ini"
        wine10_run timeout 120 wine "$state/$run_name/dialog_driver.exe" "$run\\Skyrelay.exe" \
            "sim=$run\\skyrelay-sim.exe --log $run\\$round.sim.log" start ready \
            'status=FS Detected' "$@" limit=40000 'status=Connected to a session' \
            'status=FS Detected' idle "aifile=$run\\$round.aifile.json" still=1500 limit=8000 \
            command=0xE141 "exited=$records" >"$run_dir/$round.driver" 2>"$run_dir/$round.wine" ||
            echo "driver exit $?" >>"$run_dir/$round.driver"
    }
    # Skyrelay.exe joined from its menu; the simulator is ended and started again with a window
    # of its own, the relay's sends to the old window fail (from the fourth failure on the status
    # line is emptied), and its counters are read.
    restarted() {
        local run="Z:${state//\//\\}\\$run_name"
        printf '[Skyrelay]\r\nFSPath=%s\\FS2002\r\nUsingSB=0\r\nManualConnect=0\r\n' "$run" \
            >"$prefix/drive_c/windows/Skyrelay.ini"
        wine10_run timeout 120 wine "$state/$run_name/dialog_driver.exe" "$run\\Skyrelay.exe" \
            "sim=$run\\skyrelay-sim.exe --log $run\\$round.sim.log" start ready \
            'status=FS Detected' command=154 limit=40000 'status=Connected to a session' \
            "aifile=$run\\$round.aifile.json" simagain status= "stats=$run\\$round.stats.json" \
            >"$run_dir/$round.driver" 2>"$run_dir/$round.wine" ||
            echo "driver exit $?" >>"$run_dir/$round.driver"
    }
    local round host_args client
    for round in aircraft scenario menu rejoin relay relaymenu restart; do
        case $round in
        aircraft) host_args=(--aircraft 2) client=(probe --seconds 3) ;;
        scenario) host_args=(--scenario "$run_dir/scenario.txt") client=(probe --seconds 15) ;;
        menu) host_args=(--scenario "$run_dir/menu.txt") client=(probe --seconds 15 --offered) ;;
        rejoin) host_args=(--scenario "$run_dir/rejoin.txt") client=(probe --seconds 15 --rejoin) ;;
        relay) host_args=(--scenario "$run_dir/relay.txt") client=(relay 1 "$alpha_shared") ;;
        relaymenu)
            host_args=(--scenario "$run_dir/relaymenu.txt")
            client=(relay 0 "$bravo_shared" command=154)
            ;;
        restart) host_args=(--scenario "$run_dir/restart.txt") client=(restarted) ;;
        esac
        "$session_bin" --directplay ${host_layout:+"$host_layout"} "${host_args[@]}" \
            >"$run_dir/$round.host" 2>&1 &
        local host=$!
        sleep 0.3
        "${client[@]}"
        sleep 0.5
        kill -TERM "$host" 2>/dev/null || true
        wait "$host" || true
        wine10_stop
    done
}
export -f inside
export state run_dir run_name session_bin host_layout
wine10_in_namespace 420 inside || echo "namespace run ended with $?"
# Whatever Wine left running, also after a time-out.
wine10_stop

failures=0
# Each expected line must be in the file, in this order.
expect() {
    local file=$1 expected=$2
    if ! python3 - "$file" "$expected" <<'PY'; then
import sys
lines = open(sys.argv[1], errors="replace").read().splitlines()
wanted = [w for w in sys.argv[2].splitlines() if w]
at = 0
for w in wanted:
    while at < len(lines) and lines[at] != w:
        at += 1
    if at == len(lines):
        print(f"missing (in order): {w}")
        sys.exit(1)
    at += 1
PY
        echo "FAIL: $file, which holds:"
        sed 's/^/    /' "$file"
        failures=$((failures + 1))
    fi
}
# The client's own DirectPlay must never have seen an unexpected reply (it breaks into the
# debugger, exception 0x80000003) or crashed.
for round in aircraft scenario menu rejoin relay relaymenu restart; do
    if grep -E "No receipt event|code=80000003|Unhandled exception|WineDbg" "$run_dir/$round.wine" \
        "$run_dir/$round".{probe,driver} 2>/dev/null; then
        echo "FAIL: $round: the client's DirectPlay complained"
        failures=$((failures + 1))
    fi
done

# Ids: 0xA00001 is the host's system player; peers present at the start come next, then the
# client's system player and its player.
expect "$run_dir/aircraft.probe" '
session: "Skyrelay session" size='"$session_size"' max=256 current=2
open: 0x00000000
create: 0x00000000 id=0xA00005
player: 0xA00002 type=1 flags=0x0 name=SR1
player: 0xA00003 type=1 flags=0x0 name=SR2
player: 0xA00005 type=1 flags=0x0 name=Skyrelay'
grep -q "^message: from=0xA00002 to=0xA00005 size=58 type=4121 name=SR1 " "$run_dir/aircraft.probe" &&
    grep -q "^message: from=0xA00003 to=0xA00005 size=58 type=4121 name=SR2 " "$run_dir/aircraft.probe" ||
    { echo "FAIL: no position messages from SR1 and SR2 with their names"; failures=$((failures + 1)); }
expect "$run_dir/aircraft.host" '
joined: SR1 (player 10485762, peer)
joined: SR2 (player 10485763, peer)
joined: Skyrelay (player 10485765, remote)
left: Skyrelay (player 10485765)'

expect "$run_dir/scenario.probe" '
session: "Skyrelay session" size='"$session_size"' max=256 current=0
open: 0x00000000
create: 0x00000000 id=0xA00003
system: to=0xA00003 size='"$created_size"' type=0x3 id=0xA00004 name=PEER1
message: from=0xA00004 to=0xA00003 size=58 type=4121 name=PEER1 bytes=19100000000000000000000000000000000000000000000000000000c0c62d00000000000008000040420f00807be1fff4010000000000000080
system: to=0xA00003 size='"$created_size"' type=0x3 id=0xA00005 name=PEER2
message: from=0xA00005 to=0xA00003 size=4 type=49 name=PEER2 bytes=31000000
system: to=0xA00003 size=4 type=0x101
system: to=0xA00003 size=4 type=0x31
done: 6 messages, session lost'
expect "$run_dir/scenario.host" '
joined: Skyrelay (player 10485763, remote)
scenario: started
joined: PEER1 (player 10485764, peer)
sent: position from PEER1, 58 bytes, to 1 players (1 messages in all)
joined: PEER2 (player 10485765, peer)
sent: message from PEER2, 4 bytes, to 1 players (2 messages in all)
sent: system message 0x101 to 1 players (3 messages in all)
sent: system message 0x31 to 1 players (4 messages in all)
session closed: 4 messages sent'

# The menu's way: the TCP/IP connection as offered, no address of the relay's own; and the
# session lost that `end` sends before it closes.
expect "$run_dir/menu.probe" '
connection: "Internet TCP/IP Connection For DirectPlay" flags=1
session: "Skyrelay session" size='"$session_size"' max=256 current=0
open: 0x00000000
create: 0x00000000 id=0xA00003
system: to=0xA00003 size='"$created_size"' type=0x3 id=0xA00004 name=PEER1
message: from=0xA00004 to=0xA00003 size=58 type=4121 name=PEER1 bytes=19100000000000000000000000000000000000000000000000000000c0c62d00000000000008000040420f00807be1fff4010000000000000080
system: to=0xA00003 size=4 type=0x31
done: 3 messages, session lost'

# A client that leaves after a session lost and joins again with a new object, as the relay
# does: the host forgets its old player and serves the new one.
expect "$run_dir/rejoin.probe" '
create: 0x00000000 id=0xA00003
system: to=0xA00003 size=4 type=0x31
done: 2 messages, session lost
rejoin
open: 0x00000000
create: 0x00000000 id=0xA00006
player: 0xA00004 type=1 flags=0x0 name=PEER1
message: from=0xA00004 to=0xA00006 size=58 type=4121 name=PEER1 bytes=19100000000000000000000000000000000000000000000000000000c0c62d00000000000008000040420f00807be1fff4010000000000000080
system: to=0xA00006 size=4 type=0x31
done: 2 messages, session lost'
expect "$run_dir/rejoin.host" '
joined: Skyrelay (player 10485763, remote)
left: Skyrelay (player 10485763)
joined: Skyrelay (player 10485766, remote)
sent: position from PEER1, 58 bytes, to 1 players (2 messages in all)'

# The relay's rounds. Ids as above: the relay's player is 0xA00003, the first peer 0xA00004, so
# the records for the simulator start with 04000000 (the id's low 16 bits). Every record the
# simulator got must be the first peer's: the slow peer and the user's own name never come.
# The log's lines end in CR LF.
check_sim_log() {
    local file=$1 expected="write 0x1F80 40 $2"
    local log total matching
    log=$(tr -d '\r' <"$file" 2>/dev/null || true)
    total=$(grep -c '^write 0x1F80 ' <<<"$log" || true)
    matching=$(grep -cxF -- "$expected" <<<"$log" || true)
    if [ "$total" -eq 0 ] || [ "$total" != "$matching" ]; then
        echo "FAIL: $file: $total traffic records, $matching of them \"$expected\":"
        sort <<<"$log" | uniq -c | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}
# "AIFile" as skyrelay-aifile.exe read it after the session: a picture of one record.
check_aifile_json() {
    if ! python3 - "$1" "$2" <<'PY'; then
import json, struct, sys
reading = json.load(open(sys.argv[1]))
fields = ["latitude", "longitude", "altitude", "headingDegrees", "groundSpeed", "verticalSpeed"]
got = [reading["state"], reading["recordCount"], reading["warnings"]] + [
    "".join(struct.pack("<f", r[f]).hex() for f in fields) for r in reading["records"]]
if got != [2, 1, [], sys.argv[2]]:
    sys.exit(f"read {got}, expected state 2, 1 record {sys.argv[2]}")
PY
        echo "FAIL: $1, which holds:"
        sed 's/^/    /' "$1" 2>/dev/null
        failures=$((failures + 1))
    fi
}
relay_start='
ok start
ok ready
ok status=FS Detected'
relay_session='
ok status=Connected to a session
ok status=FS Detected
ok idle
ok still=1500
ok command=0xE141'

expect "$run_dir/relay.driver" "$relay_start$relay_session
ok exited=$alpha_shared"
expect "$run_dir/relay.host" '
joined: Skyrelay (player 10485763, remote)
scenario: started
joined: Alpha (player 10485764, peer)
joined: Slowpoke (player 10485765, peer)
joined: Maverick (player 10485766, peer)
sent: position from Maverick, 58 bytes, to 1 players (60 messages in all)
sent: system message 0x31 to 1 players (61 messages in all)
left: Skyrelay (player 10485763)'
check_sim_log "$run_dir/relay.sim.log" 04000000ffff1f420000b4c2b0274d45c0ff6e00a8fd416c70686100000000000000000000000000
check_aifile_json "$run_dir/relay.aifile.json" "$alpha_shared"

# From the menu, the relay's player is the user's name with "ai".
expect "$run_dir/relaymenu.driver" "$relay_start
ok command=154$relay_session
ok exited=$bravo_shared"
expect "$run_dir/relaymenu.host" '
joined: Maverickai (player 10485763, remote)
scenario: started
joined: Bravo (player 10485764, peer)
sent: position from Crawler, 58 bytes, to 1 players (48 messages in all)
session closed: 48 messages sent'
check_sim_log "$run_dir/relaymenu.sim.log" 040000000000b4c200003442cd3b03c20080c2005802427261766f00000000000000000000000000
check_aifile_json "$run_dir/relaymenu.aifile.json" "$bravo_shared"

# The simulator started again: the relay still sends to the window it found, which has gone.
expect "$run_dir/restart.driver" "$relay_start
ok command=154
ok status=Connected to a session
ok simagain
ok status=
ok stats=Z:${state//\//\\}\\$run_name\\restart.stats.json"
restart_sentence='Traffic stops: the FS2002 window Skyrelay found is gone, and an FS2002 runs now, so it was started again after Skyrelay found it: restart Skyrelay.'
if ! grep -qF "{\"diagnosis\":\"$restart_sentence\"" "$run_dir/restart.stats.json" ||
    ! grep -qF '"lastSendError":1400}' "$run_dir/restart.stats.json"; then
    echo "FAIL: the counters after the restart: $(cat "$run_dir/restart.stats.json" 2>/dev/null)"
    failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
    echo "wine10_session: $failures checks failed (files in $run_dir)"
    exit 1
fi
echo "wine10_session: passed (the $arch Skyrelay.exe and dp_probe.exe joined skyrelay-session" \
    "--directplay through Wine 10; files in $run_dir)"

#!/usr/bin/env bash
# The relay against a simulator module that goes away or goes wrong, and against bad files, bad
# folders, a full /dev/shm and a second relay: each row runs the headless skyrelay with skyrelay-sim and
# skyrelay-session in a world of its own and checks that the relay survives, keeps "AIFile" exact
# and still shuts down properly. Without a row name every row runs, side by side.
# Usage: relay_faults.sh BIN_DIR [ROW...]
set -euo pipefail
bin="$1"
shift
rows=(sim_killed sim_reply0 sim_garble sim_silent aifile_small aifile_large garbage_settings
    garbage_cfg config_readonly config_missing settings_folder second_relay shm_full)

if [ $# -eq 0 ]; then
    source "$(dirname "$0")/rows.bash"
    run_rows_side_by_side "$0" "$bin" "${rows[@]}"
fi

# shm_full runs in a mount namespace of its own, over a small /dev/shm of its own.
if [ "$1" = shm_full ] && [ -z "${SKYRELAY_SMALL_SHM:-}" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "SKIP: shm_full: mounting a small /dev/shm needs root"
        exit 0
    fi
    if ! unshare -m --propagation private true 2>/dev/null; then
        echo "SKIP: shm_full: no private mount namespace here (unshare -m)"
        exit 0
    fi
    exec env SKYRELAY_SMALL_SHM=1 unshare -m --propagation private sh -c \
        'mount -t tmpfs -o size=256k tmpfs /dev/shm && exec bash "$0" "$@"' "$0" "$bin" shm_full
fi

source "$(dirname "$0")/relay_stack.bash"
require_tools

# A scenario of Bravo's positions four times a second for as long as any row runs.
write_scenario() {
    {
        echo "join Bravo"
        for _ in $(seq 1 800); do
            echo "$bravo_pos"
            echo "wait 250"
        done
    } >"$work/scenario.txt"
}

# skyrelay-sim with options and its own log; `sim_pid` is its process.
start_sim_as() {
    local name="$1"
    shift
    "$bin/skyrelay-sim" --log "$work/$name.log" "$@" >"$work/$name.out" 2>"$work/$name.err" &
    sim_pid=$!
    pids+=("$sim_pid")
    wait_for_line "$work/$name.err" 'ready at' 60 "$name's window"
}

# skyrelay-session on Bravo's scenario. With the rows side by side, a port found free can be taken
# before the session binds it: then again on another port (the relay, started later, follows).
start_bravo_session() {
    local attempt session_pid
    for attempt in 1 2 3; do
        "$bin/skyrelay-session" --scenario "$work/scenario.txt" >"$work/session.out" 2>&1 &
        session_pid=$!
        pids+=("$session_pid")
        local deadline=$((SECONDS + 60))
        while kill -0 "$session_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ]; do
            if [ "$(count_lines "$work/session.out" '^hosting ')" -gt 0 ]; then return 0; fi
            sleep 0.1
        done
        grep -q 'Address already in use' "$work/session.out" || break
        SKYRELAY_SESSION_PORT="$(free_port)"
    done
    fail "skyrelay-session did not start"
}

# The world in manual mode and Bravo's scenario.
prepare_world() {
    setup_world 0 0
    write_scenario
}

# A simulator with the given options, the session and the relay joined over TCP/IP.
start_connected() {
    start_sim_as sim "$@"
    start_bravo_session
    start_relay
    join_tcp relay
}

# Chooses "TCP/IP" once the relay whose lines are in NAME.err has detected the simulator.
join_tcp() {
    wait_for_line "$work/$1.err" '^status: FS Detected$' 60 "simulator detection ($1)"
    printf 'TCP/IP\n' >"$work/$1.in"
    wait_for_line "$work/$1.err" '^status: Connected to a session$' 60 "connection ($1)"
}

connected_relay() {
    prepare_world
    start_connected "$@"
}

# A file of random bytes (the same for every run).
random_file() {
    python3 -c 'import random, sys
random.seed(int(sys.argv[2]))
open(sys.argv[1], "wb").write(bytes(random.getrandbits(8) for _ in range(int(sys.argv[3]))))' "$@"
}

# Waits until "AIFile" holds one published picture of exactly Bravo.
wait_bravo_picture() {
    local deadline=$((SECONDS + 60))
    until "$bin/skyrelay-aifile" --json 2>/dev/null | python3 -c '
import json, struct, sys
r = json.load(sys.stdin)
fields = ["latitude", "longitude", "altitude", "headingDegrees", "groundSpeed", "verticalSpeed"]
bits = ["".join(struct.pack("<f", x[n]).hex() for n in fields) for x in r["records"]]
sys.exit(0 if (r["state"], r["recordCount"], bits) == (2, 1, [sys.argv[1]]) else 1)' \
        "$bravo_shared"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no picture of Bravo in \"AIFile\" within 60 s"
        sleep 0.2
    done
}

# Overwrites "AIFile" with zeros from outside, as a careless reader could.
zero_aifile() {
    python3 -c 'import sys
with open(sys.argv[1], "r+b") as f: f.write(bytes(28680))' "$aifile"
}

# Ends the relay with Exit (or a signal) and checks the shutdown: status 0, "AIFile" closed with
# both header words 0 and slot 0 as given ("" for any slot 0, "-" for no check of "AIFile"), and
# the relay's request areas gone.
exit_relay() {
    local how="$1" slot0="$2"
    if [ "$how" = Exit ]; then say Exit; else kill "-$how" "$relay_pid"; fi
    wait_relay_exit
    [ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status"
    local got
    got="$(od -An -tx1 -N32 "$aifile" | tr -d ' \n')"
    case "$slot0" in
    -) ;;
    "") [ "${got:0:16}" = 0000000000000000 ] || fail "\"AIFile\" after exit: $got" ;;
    *) [ "$got" = "0000000000000000$slot0" ] || fail "\"AIFile\" after exit: $got" ;;
    esac
    local areas
    areas="/dev/shm/${SKYRELAY_SHM_PREFIX}FsasmLib:IPC:$(printf %X "$relay_pid"):"
    ! compgen -G "$areas*" >/dev/null || fail "request areas left behind: $(ls "$areas"*)"
}

# Sends a command line the relay does not know and prints how long, in ms, its answer took: the
# time the relay's thread was busy elsewhere. Fails when no answer comes within the limit (ms).
probe_ms() {
    python3 - "$work/relay.in" "$work/relay.err" "$1" "${2:-120000}" <<'EOF'
import sys, time
fifo, err, tag, limit = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
start = time.monotonic()
with open(fifo, "w") as f:
    f.write(f"probe {tag}\n")
while f"unknown command: probe {tag}\n" not in open(err).read():
    if time.monotonic() - start > limit / 1000:
        sys.exit(f"no answer to the probe within {limit} ms")
    time.sleep(0.01)
print(round((time.monotonic() - start) * 1000))
EOF
}

# Back-to-back probes until one waits longer than a second (the thread was held); prints that
# probe's time in ms.
held_probe_ms() {
    local deadline=$((SECONDS + 60)) n=0 ms=0
    while [ "$ms" -le 1000 ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no probe waited within 60 s"
        n=$((n + 1))
        ms="$(probe_ms "$n")" || fail "probe $n: $ms"
    done
    echo "$ms"
}

check_status_lines() {
    [ "$(cat "$work/relay.err")" = "$1" ] || fail "the relay's report lines: $(cat "$work/relay.err")"
}

row="$1"
case "$row" in
sim_killed)
    # The simulator dies mid-session and a new one starts: the relay keeps running, its failure
    # counting empties the status line, "AIFile" keeps being written, and the new simulator gets
    # nothing: the link still names the window that is gone and is never opened again.
    connected_relay
    wait_for_line "$work/sim.log" '^write 0x1F80 ' 60 "traffic record"
    { kill -KILL "$sim_pid" && wait "$sim_pid"; } 2>/dev/null || true
    wait_for_line "$work/relay.err" '^status: $' 60 "empty status line"
    zero_aifile
    wait_bravo_picture
    start_sim_as sim2
    sleep 8
    zero_aifile
    wait_bravo_picture
    [ "$(count_lines "$work/sim2.log" '^write 0x1F80 ')" -eq 0 ] ||
        fail "the new simulator received traffic"
    # What the user is told: the window the relay talks to is not the new simulator's.
    sentence="$("$bin/skyrelay-aifile" --stats | head -n 1)"
    [ "$sentence" = "Traffic stops: the FS2002 window Skyrelay found is gone, and an FS2002 runs \
now, so it was started again after Skyrelay found it: restart Skyrelay." ] ||
        fail "skyrelay-aifile --stats said: $sentence"
    # Every counted failure from the fourth on empties the status line again.
    [ "$(head -n 3 "$work/relay.err")" = "path: $fs_dir
status: FS Detected
status: Connected to a session" ] && [ "$(tail -n +4 "$work/relay.err" | sort -u)" = "status: " ] ||
        fail "the relay's report lines: $(cat "$work/relay.err")"
    # Slot 0 holds Bravo or, between the table's emptying and the next drain, the empty picture.
    exit_relay Exit ""
    ;;
sim_reply0 | sim_garble)
    # The module answers 0, or damages the request area after carrying it out: the records reach
    # it, nothing is delivered from the area, the status line stays (neither is a counted failure),
    # and the pictures stay exact.
    if [ "$row" = sim_reply0 ]; then damage=(--reply 0); else damage=(--garble); fi
    connected_relay --after 1 "${damage[@]}"
    wait_for_line "$work/sim.log" '^write 0x1F80 ' 60 "traffic record" 6
    wait_bravo_picture
    # The simulator still writes its log: only its complete lines are checked.
    head -n "$(wc -l <"$work/sim.log")" "$work/sim.log" >"$work/sim.done"
    mv "$work/sim.done" "$work/sim.log"
    check_sim_records "$(record_id_hex "$(player_id Bravo)")$bravo_tail"
    check_status_lines "path: $fs_dir
status: FS Detected
status: Connected to a session"
    # After a refused exchange the drain waits for the table's emptying, so with --reply 0 slot 0
    # can hold the empty picture at exit.
    if [ "$row" = sim_reply0 ]; then exit_relay Exit ""; else exit_relay Exit "$bravo_shared"; fi
    ;;
sim_silent)
    # The module stops answering after the handshake: every exchange waits out its nine sends,
    # the dialog answers between exchanges, and SIGTERM during an exchange still ends the relay
    # with the whole shutdown.
    connected_relay --after 1 --silent
    echo "a command sent during an exchange was answered after $(held_probe_ms) ms"
    # An exchange is under way when a probe gets no answer within 2 s: SIGTERM then.
    n=0
    while probe_ms "term$n" 2000 >/dev/null 2>&1; do n=$((n + 1)); done
    started=$SECONDS
    exit_relay TERM "$bravo_shared"
    echo "SIGTERM during an exchange: ended after $((SECONDS - started)) s"
    ;;
aifile_small | aifile_large)
    # An "AIFile" another program made smaller than the block is refused with the view message and
    # never written; a larger one gets the block at its start and keeps the rest of its bytes.
    prepare_world
    if [ "$row" = aifile_small ]; then size=1000; else size=40000; fi
    python3 -c 'import sys; open(sys.argv[1], "wb").write(b"\xa5" * int(sys.argv[2]))' "$aifile" "$size"
    cp "$aifile" "$work/aifile.before"
    start_connected
    wait_for_line "$work/sim.log" '^write 0x1F80 ' 60 "traffic record" 4
    if [ "$row" = aifile_small ]; then
        exit_relay Exit "-"
        cmp -s "$aifile" "$work/aifile.before" || fail "the small \"AIFile\" was written"
        expected_box="box: No comunication file view"
    else
        wait_bravo_picture
        exit_relay Exit "$bravo_shared"
        cmp -s -i 28680 "$aifile" "$work/aifile.before" || fail "bytes past the block were written"
        expected_box=""
    fi
    check_status_lines "path: $fs_dir${expected_box:+
$expected_box}
status: FS Detected
status: Connected to a session"
    ;;
garbage_settings | garbage_cfg)
    # Settings, registry or simulator configuration files of random bytes: the relay starts, works
    # and leaves them as they were.
    prepare_world
    if [ "$row" = garbage_settings ]; then
        files=("$SKYRELAY_CONFIG_DIR/Skyrelay.ini" "$SKYRELAY_CONFIG_DIR/registry.reg")
    else
        files=("$fs_dir/FS2002.cfg")
    fi
    seed=1
    for file in "${files[@]}"; do
        random_file "$file" "$seed" 65536
        cp "$file" "$file.before"
        seed=$((seed + 1))
    done
    start_connected
    wait_bravo_picture
    # No player name is found in the random bytes: the relay joins as "a" with "ai" appended.
    grep -qE '^joined: aai \(player [0-9]+, remote\)$' "$work/session.out" ||
        fail "the relay did not join as aai"
    exit_relay Exit "$bravo_shared"
    for file in "${files[@]}"; do
        cmp -s "$file" "$file.before" || fail "$file was changed"
    done
    if [ "$row" = garbage_settings ]; then
        check_status_lines "$SKYRELAY_CONFIG_DIR/registry.reg:1: not a registry export (no REGEDIT4 \
header); line ignored
box: Can't find FS2002 PAth
status: FS Detected
status: Connected to a session"
    fi
    ;;
config_readonly | config_missing | settings_folder)
    # A configuration folder the relay cannot write, a folder in place of the settings file (which
    # nobody can write, not even root), or a configuration folder that does not exist: option and
    # folder changes are taken for this run and the relay works; the first failed save is said
    # once, with the file and the system's reason, and leaves the folder as it was; a missing
    # folder is made by the first save.
    prepare_world
    if [ "$row" = config_missing ]; then
        rm -rf "$SKYRELAY_CONFIG_DIR"
        SKYRELAY_CONFIG_DIR="$work/no/such/folder"
    elif [ "$row" = settings_folder ]; then
        rm "$SKYRELAY_CONFIG_DIR/Skyrelay.ini"
        mkdir "$SKYRELAY_CONFIG_DIR/Skyrelay.ini"
    fi
    cp -a "$SKYRELAY_CONFIG_DIR" "$work/config.before" 2>/dev/null || true
    start_sim_as sim
    start_bravo_session
    mkfifo "$work/relay.in"
    if [ "$row" = config_readonly ]; then
        if [ "$(id -u)" -ne 0 ]; then
            chmod a-w "$SKYRELAY_CONFIG_DIR"
            runner=()
        elif unshare -m true 2>/dev/null; then
            runner=(unshare -m sh -c 'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0" &&
                exec "$@"' "$SKYRELAY_CONFIG_DIR")
        else
            echo "SKIP: $row: no way to make a folder read-only for root here"
            exit 0
        fi
    else
        runner=()
    fi
    "${runner[@]}" "$bin/skyrelay" --headless <"$work/relay.in" >"$work/relay.out" \
        2>"$work/relay.err" &
    relay_pid=$!
    pids+=("$relay_pid")
    exec 3>"$work/relay.in"
    say "Manual connect only"
    say "FS Path $fs_dir"
    join_tcp relay
    wait_bravo_picture
    exit_relay Exit "$bravo_shared"
    chmod u+w "$SKYRELAY_CONFIG_DIR"
    file="$SKYRELAY_CONFIG_DIR/Skyrelay.ini"
    case "$row" in
    config_readonly)
        reason="Read-only file system"
        if [ "$(id -u)" -ne 0 ]; then reason="Permission denied"; fi
        first="path: $fs_dir"
        ;;
    settings_folder)
        reason="Is a directory"
        first="box: Can't find FS2002 PAth"
        ;;
    config_missing) first="box: Can't find FS2002 PAth" ;;
    esac
    if [ "$row" = config_missing ]; then saved=; else
        saved="
box: Skyrelay could not save its settings to $file: $reason. The change holds until Skyrelay exits."
    fi
    check_status_lines "$first$saved
path: $fs_dir
status: FS Detected
status: Connected to a session"
    if [ "$row" = settings_folder ]; then
        [ -d "$file" ] && [ -z "$(ls -A "$file")" ] || fail "the folder Skyrelay.ini was changed"
    elif [ "$row" = config_readonly ]; then
        diff -r "$SKYRELAY_CONFIG_DIR" "$work/config.before" >/dev/null ||
            fail "the read-only folder was changed"
    else
        # The first save made the folder and the file.
        [ "$(cat "$SKYRELAY_CONFIG_DIR/Skyrelay.ini")" = "$(printf '[Skyrelay]\r\nManualConnect=1\r
FSPath=%s\r' "$fs_dir")" ] || fail "Skyrelay.ini: $(od -c "$SKYRELAY_CONFIG_DIR/Skyrelay.ini")"
    fi
    ;;
second_relay)
    # One relay per shared memory prefix. A second start beside a running relay ends at once with
    # one line and status 3, having started nothing: the first keeps its one player, its counters
    # and its picture. A relay with another prefix runs beside it. After the first is killed
    # (SIGKILL, no shutdown at all) the next start runs and relays.
    prepare_world
    start_connected
    wait_bravo_picture
    second_status=0
    timeout 20 "$bin/skyrelay" --headless </dev/null >"$work/relay2.out" 2>"$work/relay2.err" ||
        second_status=$?
    [ "$second_status" -eq 3 ] || fail "the second start ended with status $second_status"
    [ "$(cat "$work/relay2.err")" = "Skyrelay is already running (process $relay_pid)" ] ||
        fail "the second start's lines: $(cat "$work/relay2.err")"
    zero_aifile
    wait_bravo_picture
    [ "$(count_lines "$work/session.out" '^joined: aai ')" -eq 1 ] ||
        fail "the session shows another player of the relay"
    "$bin/skyrelay-aifile" --stats --json >"$work/stats.json"
    python3 - "$work/stats.json" "$relay_pid" <<'EOF' || fail "the counters: $(cat "$work/stats.json")"
import json, sys
stats = json.load(open(sys.argv[1]))["stats"]
sys.exit(0 if (stats["processId"], stats["running"], stats["joins"]) == (int(sys.argv[2]), 1, 1) else 1)
EOF
    # Another prefix is another world: that relay runs and makes its own "AIFile".
    mkfifo "$work/other.in"
    SKYRELAY_SHM_PREFIX="${SKYRELAY_SHM_PREFIX}other-" "$bin/skyrelay" --headless \
        <"$work/other.in" >"$work/other.out" 2>"$work/other.err" &
    other_pid=$!
    pids+=("$other_pid")
    exec 4>"$work/other.in"
    deadline=$((SECONDS + 60))
    until [ -e "/dev/shm/${SKYRELAY_SHM_PREFIX}other-AIFile" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the other prefix's relay made no \"AIFile\""
        sleep 0.1
    done
    printf 'Exit\n' >&4
    other_status=0
    wait "$other_pid" || other_status=$?
    [ "$other_status" -eq 0 ] || fail "the other prefix's relay ended with status $other_status"
    if grep -q 'already running' "$work/other.err"; then fail "the other prefix's relay was refused"; fi
    # Killed: what it leaves behind stops nobody.
    { kill -KILL "$relay_pid" && wait "$relay_pid"; } 2>/dev/null || true
    exec 3>&-
    rm -f "$work/relay.in"
    start_relay
    join_tcp relay
    zero_aifile
    wait_bravo_picture
    exit_relay Exit "$bravo_shared"
    ;;
shm_full)
    # The relay starts with /dev/shm full: neither "AIFile" (the message box of a mapping that
    # cannot be made) nor the counter block (one line) can be made, and neither becomes a SIGBUS
    # at the first write. The relay runs on, and finds the simulator once there is room.
    prepare_world
    rm -f "$aifile"
    cat /dev/zero >/dev/shm/filler 2>/dev/null || true
    start_sim_as sim
    start_relay
    sleep 5 # the dialog is up, its first update written and detection tried twice
    kill -0 "$relay_pid" 2>/dev/null || fail "the relay died with /dev/shm full"
    check_status_lines "path: $fs_dir
box: No comunication file Mapping
skyrelay: no counters in \"SkyrelayStats\": No space left on device"
    rm -f /dev/shm/filler
    wait_for_line "$work/relay.err" '^status: FS Detected$' 60 "simulator detection"
    say Exit
    wait_relay_exit
    [ "$relay_status" -eq 0 ] || fail "the relay exited with status $relay_status"
    ;;
*)
    fail "unknown row $row"
    ;;
esac
echo "PASS: $row"

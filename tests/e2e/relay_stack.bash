# Sourced by the relay's end-to-end scripts: a private world for one run (runtime folder, shared
# memory prefix, session port, config folder), the relay and both stand-ins as separate processes,
# waits with deadlines, and a cleanup that ends everything the script started on every way out.
# The sourcing script sets `bin` (the programs' folder) first.

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/stop_processes.bash"

# Bravo, the peer most scripts fly: latitude -90, longitude 45, altitude -10 m, heading word
# 0x800, 194 knots, 600 ft/min. His scenario line, his 40-byte record after the 4-byte id, and
# his shared record's six floats.
bravo_pos="pos Bravo 655360 6553600 0x800 -10001750 536870912 -10 0"
bravo_tail="0000b4c200003442cd3b03c20080c2005802427261766f00000000000000000000000000"
bravo_shared="0000b4c200003442cd3b03c2b40034430000424300001644"

work="$(mktemp -d)"
pids=()

cleanup() {
    exec 3>&- 2>/dev/null || true
    stop_processes
    if [ -n "${SKYRELAY_SHM_PREFIX:-}" ]; then rm -f /dev/shm/"${SKYRELAY_SHM_PREFIX}"*; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

show_logs() {
    local file
    for file in relay.err session.out sim.err sim.log; do
        [ -f "$work/$file" ] || continue
        echo "---- $file (last 20 lines)"
        tail -n 20 "$work/$file"
    done
}

fail() {
    echo "FAIL: $1"
    show_logs
    exit 1
}

# Skips the script (status 0, with the reason) when a program or tool it needs is missing.
require_tools() {
    local tool
    for tool in skyrelay skyrelay-sim skyrelay-session skyrelay-aifile; do
        if [ ! -x "$bin/$tool" ]; then
            echo "SKIP: $bin/$tool was not built"
            exit 0
        fi
    done
    for tool in python3 mkfifo; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed"
            exit 0
        fi
    done
    if [ ! -d /dev/shm ]; then
        echo "SKIP: there is no /dev/shm for the shared memory objects"
        exit 0
    fi
}

# A loopback TCP port that is free right now.
free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# The private world, and the relay's settings: a folder for the simulator (named by FSPath) and
# Skyrelay.ini with the given UsingSB and ManualConnect.
setup_world() {
    local using_sb="$1" manual_connect="$2"
    export SKYRELAY_RUNTIME_DIR="$work/run"
    export SKYRELAY_SHM_PREFIX="skyrelay-e2e-$$-"
    export SKYRELAY_CONFIG_DIR="$work/config"
    SKYRELAY_SESSION_PORT="$(free_port)"
    export SKYRELAY_SESSION_PORT
    fs_dir="$work/FS2002"
    mkdir -p "$SKYRELAY_RUNTIME_DIR" "$SKYRELAY_CONFIG_DIR" "$fs_dir"
    printf '[Skyrelay]\r\nFSPath=%s\r\nUsingSB=%s\r\nManualConnect=%s\r\n' \
        "$fs_dir" "$using_sb" "$manual_connect" >"$SKYRELAY_CONFIG_DIR/Skyrelay.ini"
    # "AIFile" made first, as a reader that stays would: it outlives the relay.
    aifile="/dev/shm/${SKYRELAY_SHM_PREFIX}AIFile"
    head -c 28680 /dev/zero >"$aifile"
}

start_sim() {
    "$bin/skyrelay-sim" --log "$work/sim.log" >"$work/sim.out" 2>"$work/sim.err" &
    pids+=("$!")
    wait_for_line "$work/sim.err" 'ready at' 60 "skyrelay-sim's window"
}

start_session() {
    "$bin/skyrelay-session" --scenario "$1" >"$work/session.out" 2>&1 &
    pids+=("$!")
    wait_for_line "$work/session.out" '^hosting ' 60 "skyrelay-session's host"
}

# The relay, headless; its stdin is a fifo held open on fd 3, so `say` sends menu commands.
start_relay() {
    mkfifo "$work/relay.in"
    "$bin/skyrelay" --headless <"$work/relay.in" >"$work/relay.out" 2>"$work/relay.err" &
    relay_pid=$!
    pids+=("$relay_pid")
    exec 3>"$work/relay.in"
}

say() {
    printf '%s\n' "$1" >&3
}

# Number of lines of a file that match an extended regular expression (0 for no file).
count_lines() {
    if [ -f "$1" ]; then grep -cE -- "$2" "$1" || true; else echo 0; fi
}

# Waits until a file has at least `count` lines matching a regular expression, up to a deadline.
wait_for_line() {
    local file="$1" pattern="$2" seconds="$3" what="$4" count="${5:-1}"
    local deadline=$((SECONDS + seconds))
    while [ "$(count_lines "$file" "$pattern")" -lt "$count" ]; do
        [ "$SECONDS" -lt "$deadline" ] || fail "no $what within ${seconds} s"
        sleep 0.1
    done
}

# Waits up to 60 s for the relay to end; its exit status is in relay_status.
wait_relay_exit() {
    local deadline=$((SECONDS + 60))
    while kill -0 "$relay_pid" 2>/dev/null; do
        [ "$SECONDS" -lt "$deadline" ] || fail "the relay did not end within 60 s"
        sleep 0.1
    done
    relay_status=0
    wait "$relay_pid" || relay_status=$?
}

# The player id that skyrelay-session gave a player, from its `joined:` line.
player_id() {
    sed -n "s/^joined: $1 (player \([0-9]*\), .*/\1/p" "$work/session.out" | head -n 1
}

# The first 4 bytes of a traffic record: the player id's low 16 bits, little-endian hex.
record_id_hex() {
    local id=$(($1 & 0xFFFF))
    printf '%02x%02x0000' $((id & 0xFF)) $((id >> 8))
}

# Checks "AIFile" through skyrelay-aifile --json: the state, the recordCount and the records,
# each record given as six float bit patterns (little-endian hex, as the block stores them):
# latitude longitude altitude headingDegrees groundSpeed verticalSpeed.
check_aifile_json() {
    local expected_state="$1" expected_count="$2"
    shift 2
    "$bin/skyrelay-aifile" --json >"$work/aifile.json" || fail "skyrelay-aifile could not read"
    python3 - "$work/aifile.json" "$expected_state" "$expected_count" "$@" <<'EOF' ||
import json, struct, sys
reading = json.load(open(sys.argv[1]))
state, count = int(sys.argv[2]), int(sys.argv[3])
expected = sys.argv[4:]
fields = ["latitude", "longitude", "altitude", "headingDegrees", "groundSpeed", "verticalSpeed"]
problems = []
if reading["state"] != state or reading["recordCount"] != count:
    problems.append(f"header {reading['state']} {reading['recordCount']}, expected {state} {count}")
if reading["warnings"]:
    problems.append(f"warnings {reading['warnings']}")
if len(reading["records"]) != len(expected):
    problems.append(f"{len(reading['records'])} records, expected {len(expected)}")
for record, bits in zip(reading["records"], expected):
    got = "".join(struct.pack("<f", record[name]).hex() for name in fields)
    if got != bits:
        problems.append(f"record {got}, expected {bits}")
if problems:
    print(open(sys.argv[1]).read())
    sys.exit("; ".join(problems))
EOF
        fail "\"AIFile\" as skyrelay-aifile reads it"
}

# Other readers see what skyrelay-aifile sees of the same blocks: read_aifile, the example in C,
# with the counters, and the Python snippet of docs/shared-blocks.md, taken from the page as it
# stands with the page's Linux copy_block in place of the Windows one; the snippet prints the same
# lines as read_aifile, as the page says. Called while the picture no longer changes.
check_other_readers() {
    local here
    here="$(dirname "${BASH_SOURCE[0]}")"
    "$bin/read_aifile" >"$work/read_aifile.out" || fail "read_aifile could not read"
    python3 - "$here/../../docs/shared-blocks.md" >"$work/snippet.out" <<'EOF' ||
import sys
page = open(sys.argv[1]).read()
def block(marker):
    return page.split(f"<!-- {marker} -->\n```python\n", 1)[1].split("```", 1)[0]
snippet, linux = block("read-aifile-python"), block("read-aifile-python-linux")
call = 'data = copy_block("AIFile", SIZE)\n'
assert snippet.count(call) == 1, "the snippet no longer copies \"AIFile\" as expected"
definitions, reading = snippet.split(call)
exec(definitions + linux + call + reading)
EOF
        fail "the page's Python snippet"
    grep -v '^SkyrelayStats: ' "$work/read_aifile.out" | diff - "$work/snippet.out" >&2 ||
        fail "the page's Python snippet does not print the lines read_aifile prints"
    "$bin/skyrelay-aifile" --json >"$work/aifile.json" || fail "skyrelay-aifile could not read"
    "$bin/skyrelay-aifile" --stats --json >"$work/stats.json" || fail "no counters"
    python3 "$here/readers_agree.py" "$work/read_aifile.out" "$work/aifile.json" \
        "$work/stats.json" || fail "read_aifile and skyrelay-aifile disagree"
    python3 "$here/readers_agree.py" "$work/snippet.out" "$work/aifile.json" ||
        fail "the page's Python snippet and skyrelay-aifile disagree"
}

# Checks the raw block: both header words and the first record's 24 float bytes (slot 0).
check_aifile_bytes() {
    local header="$1" slot0="$2"
    local got
    got="$(python3 -c 'import sys
data = open(sys.argv[1], "rb").read()
print(data[0:8].hex(), data[8:32].hex(), len(data))' "$aifile")"
    [ "$got" = "$header $slot0 28680" ] || fail "\"AIFile\" bytes: $got, expected $header $slot0 28680"
}

# Every traffic record skyrelay-sim received must be exactly this one, and at least one came.
check_sim_records() {
    local expected="write 0x1F80 40 $1"
    local total matching
    total="$(count_lines "$work/sim.log" '^write 0x1F80 ')"
    matching="$(grep -cxF -- "$expected" "$work/sim.log" || true)"
    [ "$total" -gt 0 ] || fail "skyrelay-sim received no traffic record"
    [ "$total" -eq "$matching" ] || {
        grep -E '^write 0x1F80 ' "$work/sim.log" | sort | uniq -c
        fail "skyrelay-sim received other records than: $expected"
    }
}

#!/usr/bin/env bash
# Measures the relay as a whole process on the Linux stand-ins (release build) in four states:
#   waiting   the relay alone, waiting for the simulator;
#   detected  skyrelay-sim running, no session yet;
#   idle      connected to a skyrelay-session that has no aircraft;
#   traffic   connected to a skyrelay-session flying 30 aircraft at 10 messages a second each.
# For each: CPU time as a share of wall time, wake-ups a second (voluntary and involuntary context
# switches of all the relay's threads), allocations a second (counted by a preloaded allocator),
# and peak resident memory; with traffic also the delay from a peer's send to "AIFile" (median and
# maximum, against one publication period plus one tick).
# Usage: scripts/measure.sh [SECONDS] [--squawkbox]
#   SECONDS      length of each measured window (default 60)
#   --squawkbox  "Using SquawkBox" on: the relay connects by itself and publishes every 12th tick
#                (default: off, connected from the menu, publishing every 4th tick)
# Everything runs in a folder, a shared memory prefix and a session port of its own, and
# everything started is stopped at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop_processes.bash

seconds=60
squawkbox=0
for arg in "$@"; do
    case "$arg" in
    --squawkbox) squawkbox=1 ;;
    '' | *[!0-9]*)
        echo "usage: scripts/measure.sh [SECONDS] [--squawkbox]" >&2
        exit 2
        ;;
    *) seconds="$arg" ;;
    esac
done
[ "$seconds" -ge 5 ] || { echo "measure: SECONDS must be at least 5" >&2; exit 2; }
settle=5 # seconds after each change of state before the window starts

scripts/setup.sh
echo "measure: building (bench preset, release)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 --target skyrelay skyrelay-sim skyrelay-session \
    skyrelay-aifile-delay skyrelay-alloc-count >/dev/null
bin="$PWD/build/bench/bin"

work="$(mktemp -d "${TMPDIR:-/tmp}/skyrelay-measure.XXXXXX")"
export SKYRELAY_RUNTIME_DIR="$work/run"
export SKYRELAY_CONFIG_DIR="$work/config"
export SKYRELAY_SHM_PREFIX="skyrelay-measure-$$-"
export SKYRELAY_SESSION_PORT="$((47700 + $$ % 200))"
pids=()

stop() {
    trap - EXIT INT TERM
    { exec 3>&-; } 2>/dev/null || true
    stop_processes
    rm -f /dev/shm/"$SKYRELAY_SHM_PREFIX"*
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM

fail() {
    echo "measure: $1" >&2
    local file
    for file in "$work"/*.err "$work"/*.out; do
        [ -f "$file" ] && { echo "--- $file" >&2; tail -n 5 "$file" >&2; }
    done
    exit 1
}

# Waits up to $3 seconds for a line matching $2 in file $1.
wait_for() {
    local i
    for i in $(seq 1 $(($3 * 10))); do
        grep -qE -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "no \"$2\" in $(basename "$1") within $3 s"
}

mkdir -p "$SKYRELAY_RUNTIME_DIR" "$SKYRELAY_CONFIG_DIR" "$work/FS2002"
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$work/FS2002/FS2002.cfg"
printf '[Skyrelay]\r\nFSPath=%s\r\nUsingSB=%s\r\nManualConnect=%s\r\n' "$work/FS2002" \
    "$squawkbox" "$((1 - squawkbox))" >"$SKYRELAY_CONFIG_DIR/Skyrelay.ini"

# The relay, headless, with the counting allocator; stdin is a fifo held open on fd 3.
relay_pid=""
start_relay() {
    rm -f "$work/relay.in" "$work/allocations" "$work/relay.err"
    mkfifo "$work/relay.in"
    SKYRELAY_ALLOC_COUNT_FILE="$work/allocations" LD_PRELOAD="$bin/libskyrelay-alloc-count.so" \
        "$bin/skyrelay" --headless <"$work/relay.in" >/dev/null 2>"$work/relay.err" &
    relay_pid=$!
    pids+=("$relay_pid")
    exec 3>"$work/relay.in"
}

stop_relay() {
    # In a subshell: a relay that has ended must not end the script with a broken pipe.
    (printf 'Exit\n' >&3) 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$relay_pid" 2>/dev/null || break; sleep 0.1; done
    kill -TERM "$relay_pid" 2>/dev/null || true
    wait "$relay_pid" 2>/dev/null || true
    exec 3>&-
}

start_sim() {
    "$bin/skyrelay-sim" >/dev/null 2>"$work/sim.err" &
    sim_pid=$!
    pids+=("$sim_pid")
    wait_for "$work/sim.err" 'ready at' 10
}

start_session() {
    "$bin/skyrelay-session" "$@" >"$work/session.out" 2>&1 &
    session_pid=$!
    pids+=("$session_pid")
    wait_for "$work/session.out" '^hosting ' 10
}

stop_pid() {
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

connect() {
    if [ "$squawkbox" -eq 0 ]; then
        wait_for "$work/relay.err" '^status: FS Detected$' 15
        (printf 'TCP/IP\n' >&3) 2>/dev/null || true
    fi
    wait_for "$work/relay.err" '^status: Connected to a session$' 30
}

# One line of counters: CPU time in ns (all threads), context switches, allocations, the clock in
# ns.
snapshot() {
    local cpu=0 switches=0 task value
    for task in /proc/"$relay_pid"/task/*; do
        read -r value _ <"$task/schedstat"
        cpu=$((cpu + value))
        value=$(awk '/ctxt_switches/ {s += $2} END {print s + 0}' "$task/status")
        switches=$((switches + value))
    done
    local allocations
    allocations=$(od -An -tu8 -N8 "$work/allocations" | tr -d ' ')
    echo "$cpu $switches ${allocations:-0} $(date +%s%N)"
}

results=()
# Measures the relay over one window; extra text (the delay) is appended to the line.
measure() {
    local name="$1" extra="${2:-}"
    local before after
    before=$(snapshot)
    if [ -n "$extra" ]; then
        extra=$("$bin/skyrelay-aifile-delay" "/${SKYRELAY_SHM_PREFIX}AIFile" "$seconds" 100)
    else
        sleep "$seconds"
    fi
    after=$(snapshot)
    kill -0 "$relay_pid" 2>/dev/null || fail "the relay ended"
    local hwm
    hwm=$(awk '/VmHWM/ {print $2}' /proc/"$relay_pid"/status)
    results+=("$(awk -v name="$name" -v hwm="$hwm" -v extra="$extra" -v b="$before" -v a="$after" '
        BEGIN {
            split(b, x, " "); split(a, y, " ")
            wall = (y[4] - x[4]) / 1e9
            printf "%-9s cpu %.4f%% of a core, %.2f wake-ups/s, %.2f allocations/s, peak resident %.1f MiB",
                name, (y[1] - x[1]) / (y[4] - x[4]) * 100, (y[2] - x[2]) / wall,
                (y[3] - x[3]) / wall, hwm / 1024
            if (extra != "") printf "\n          delay: %s", extra
            printf "\n"
        }')")
    echo "${results[-1]}"
}

if [ "$squawkbox" -eq 1 ]; then
    limit=$((12 * 330 + 330))
else
    limit=$((4 * 330 + 330))
fi
echo "measure: $seconds s a state; the delay must stay within $limit ms"

# 1. Waiting for the simulator, then 2. detected and waiting for a session.
start_relay
sleep "$settle"
measure waiting
start_sim
wait_for "$work/relay.err" '^status: FS Detected$' 15
sleep "$settle"
measure detected

# 3. Connected, no traffic.
start_session --aircraft 0
connect
sleep "$settle"
measure idle
stop_relay
stop_pid "$session_pid"

# 4. 30 aircraft at 10 messages a second each, with a relay of its own, so that its peak memory
# and its allocations are those of this state alone.
session_args=(--aircraft 30 --rate 10 --stamp)
[ "$squawkbox" -eq 1 ] && session_args+=(--squawkbox)
start_session "${session_args[@]}"
start_relay
connect
sleep "$settle"
measure traffic delay
stop_relay

echo
echo "measure: summary ($seconds s windows; \"Using SquawkBox\" $([ "$squawkbox" -eq 1 ] && echo on || echo off), delay limit $limit ms)"
printf '%s\n' "${results[@]}"

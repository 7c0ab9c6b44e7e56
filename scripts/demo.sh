#!/usr/bin/env bash
# Builds the relay and runs it on the Linux stand-ins: skyrelay-sim (the simulator), skyrelay-session
# (the multiplayer host with six synthetic aircraft) and skyrelay in automatic mode, then shows
# every second the relay's status, the "AIFile" block as skyrelay-aifile reads it and the last
# aircraft the simulator received. Ctrl-C stops everything it started.
#
# Everything runs in a world of its own: a temporary folder for the relay's settings, the
# simulator's folder and the runtime sockets, its own shared memory prefix and its own session
# port (SKYRELAY_DEMO_PORT, default 47650), so the user's settings and other runs are untouched.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop_processes.bash

aircraft=6
port="${SKYRELAY_DEMO_PORT:-47650}"

scripts/setup.sh
echo "demo: building (release)"
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target skyrelay skyrelay-sim skyrelay-session \
    skyrelay-aifile >/dev/null
bin="$PWD/build/release/bin"

work="$(mktemp -d "${TMPDIR:-/tmp}/skyrelay-demo.XXXXXX")"
export SKYRELAY_RUNTIME_DIR="$work/run"
export SKYRELAY_CONFIG_DIR="$work/config"
export SKYRELAY_SHM_PREFIX="skyrelay-demo-$$-"
export SKYRELAY_SESSION_PORT="$port"
pids=()

stop() {
    trap - EXIT INT TERM
    stop_processes
    rm -f /dev/shm/"$SKYRELAY_SHM_PREFIX"*
    rm -rf "$work"
    echo "demo: stopped; nothing left running"
}
trap stop EXIT
trap 'exit 0' INT TERM

fail() {
    echo "demo: $1" >&2
    local file
    for file in "$work"/*.log; do
        [ -f "$file" ] && tail -n 5 "$file" >&2
    done
    exit 1
}

# Waits up to 10 s for a line in a started program's log; fails when the program has ended.
wait_ready() {
    local pid="$1" file="$2" pattern="$3" what="$4"
    for _ in $(seq 1 100); do
        grep -qE -- "$pattern" "$file" 2>/dev/null && return 0
        kill -0 "$pid" 2>/dev/null || fail "$what did not start"
        sleep 0.1
    done
    fail "$what did not start within 10 s"
}

# Automatic mode: "Using SquawkBox" on, "Manual connect only" off, and a simulator folder, so
# the relay connects by itself and shows no "Can't find" box.
mkdir -p "$SKYRELAY_RUNTIME_DIR" "$SKYRELAY_CONFIG_DIR" "$work/FS2002"
printf '[Skyrelay]\r\nFSPath=%s\r\nUsingSB=1\r\nManualConnect=0\r\n' "$work/FS2002" \
    >"$SKYRELAY_CONFIG_DIR/Skyrelay.ini"

"$bin/skyrelay-sim" >"$work/sim.log" 2>"$work/sim-report.log" &
pids+=("$!")
wait_ready "$!" "$work/sim-report.log" 'ready at' "skyrelay-sim"

"$bin/skyrelay-session" --aircraft "$aircraft" --squawkbox >"$work/session.log" 2>&1 &
pids+=("$!")
wait_ready "$!" "$work/session.log" '^hosting ' \
    "skyrelay-session (is port $port taken? set SKYRELAY_DEMO_PORT to another)"

"$bin/skyrelay" --headless </dev/null >/dev/null 2>"$work/relay.log" &
relay_pid=$!
pids+=("$relay_pid")

started=$SECONDS
if [ -t 1 ]; then clear_screen=$'\033[H\033[2J'; else clear_screen=""; fi
while :; do
    kill -0 "$relay_pid" 2>/dev/null || fail "skyrelay ended"
    status="$(sed -n 's/^status: //p' "$work/relay.log" | tail -n 1)"
    block="$("$bin/skyrelay-aifile" 2>&1 || true)"
    # The simulator's lines of the latest publication: as many as the picture holds.
    count="$(sed -n 's/.*recordCount \([0-9]*\).*/\1/p' <<<"$block" | head -n 1)"
    latest="$(grep '^aircraft ' "$work/sim.log" | tail -n "${count:-$aircraft}" || true)"
    {
        printf '%s' "$clear_screen"
        echo "Skyrelay demo, $((SECONDS - started)) s: relay status \"${status:-(empty)}\""
        echo "  the relay connects by itself about 8 s after it starts and publishes every 4 s;"
        echo "  skyrelay-session flies $aircraft aircraft, and the one taxiing below 30 knots is"
        echo "  never relayed"
        echo
        echo "What the relay publishes in \"AIFile\" (skyrelay-aifile):"
        echo "$block"
        echo
        echo "Last aircraft the simulator received (skyrelay-sim):"
        echo "${latest:-(none yet)}"
        echo
        echo "Ctrl-C stops the demo."
        [ -n "$clear_screen" ] || echo "----"
    }
    sleep 1
done

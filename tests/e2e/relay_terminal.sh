#!/usr/bin/env bash
# Drives the relay itself in the terminal through tmux, as a newcomer would: the not-found box at
# start, the window and its menu, a toggle that grays the connect items and is saved at once, the
# simulator detected, and File > Exit giving the terminal back. Usage: relay_terminal.sh BIN_DIR
set -euo pipefail
bin="$1"
if ! command -v tmux >/dev/null 2>&1; then
    echo "SKIP: tmux is not installed, so the relay's terminal dialog was not driven"
    exit 0
fi

work="$(mktemp -d)"
export TMUX_TMPDIR="$work"
export SKYRELAY_CONFIG_DIR="$work/config" SKYRELAY_RUNTIME_DIR="$work/run"
export SKYRELAY_SHM_PREFIX="skyrelay-term-$$-"
mkdir -p "$SKYRELAY_CONFIG_DIR" "$SKYRELAY_RUNTIME_DIR"
session="relay"
sim=""
cleanup() {
    tmux kill-server 2>/dev/null || true
    if [ -n "$sim" ]; then
        kill -TERM "$sim" 2>/dev/null || true
        wait "$sim" 2>/dev/null || true
    fi
    rm -f /dev/shm/"$SKYRELAY_SHM_PREFIX"*
    rm -rf "$work"
}
trap cleanup EXIT

# shellcheck source=tmux_screen.bash
source "$(dirname "$0")/tmux_screen.bash"

# No settings and no registry: the relay says it cannot find the simulator, then runs on.
tmux new-session -d -s "$session" -x 100 -y 50 \
    -e "SKYRELAY_CONFIG_DIR=$SKYRELAY_CONFIG_DIR" -e "SKYRELAY_RUNTIME_DIR=$SKYRELAY_RUNTIME_DIR" \
    -e "SKYRELAY_SHM_PREFIX=$SKYRELAY_SHM_PREFIX" \
    "'$bin/skyrelay'; echo \"EXITED \$?\"; sleep 60"
wait_for "Can't find FS2002 PAth"
tmux send-keys -t "$session" Enter
wait_for '^\+-\[ Skyrelay \]'
wait_for '^\| FS PATH: Static +\|$'
wait_for '^\|   \[t\] TCP/IP +\|$'
wait_for '^\|   \[s\] Using SquawkBox +\|$'
[ -e "/dev/shm/${SKYRELAY_SHM_PREFIX}AIFile" ] || fail "the relay did not create \"AIFile\""

# "Using SquawkBox" on: checked, the connect items grayed, the setting saved at once.
tmux send-keys -t "$session" s
wait_for '^\|   \[s\] Using SquawkBox +checked \|$'
wait_for '^\|   \[t\] TCP/IP +grayed \|$'
wait_for '^\|   \[i\] IPX/SPX +grayed \|$'
grep -q '^UsingSB=1' "$SKYRELAY_CONFIG_DIR/Skyrelay.ini" || fail "UsingSB=1 was not saved"

# The simulator appears: the next detection tick finds it.
"$bin/skyrelay-sim" >"$work/sim.out" 2>&1 &
sim=$!
wait_for '^\| FS Detected +\|$'

# File > Exit: the shutdown runs and the terminal is given back.
tmux send-keys -t "$session" x
wait_for '^EXITED 0$'
screen | grep -q 'FS PATH' && fail "the dialog is still on the screen after it ended"
[ -e "/dev/shm/${SKYRELAY_SHM_PREFIX}AIFile" ] && fail "\"AIFile\" outlived the relay that made it"
echo "PASS: the relay's terminal dialog driven through tmux"

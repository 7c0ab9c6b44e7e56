#!/usr/bin/env bash
# Drives the terminal dialog through tmux as a person would: the window and its menu, a grayed
# item, a toggle, a message box while a timer keeps ticking, the folder prompt, the About box and
# Ctrl-C. Usage: dialog_terminal.sh BIN_DIR
set -euo pipefail
bin="$1"
if ! command -v tmux >/dev/null 2>&1; then
    echo "SKIP: tmux is not installed, so the terminal dialog was not driven"
    exit 0
fi

work="$(mktemp -d)"
export TMUX_TMPDIR="$work" # a tmux server of our own, ended with the test
session="dialog"
cleanup() {
    tmux kill-server 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
log="$work/commands.log"

# shellcheck source=tmux_screen.bash
source "$(dirname "$0")/tmux_screen.bash"
ticks() { screen | sed -n 's/.*Ticks: \([0-9]*\).*/\1/p' | head -n 1; }

tmux new-session -d -s "$session" -x 100 -y 50 \
    "'$bin/dialog-demo' --log '$log' --tick-ms 100; echo \"EXITED \$?\"; sleep 60"

wait_for '^\+-\[ Skyrelay \]'
wait_for '^\| FS PATH: Static +\|$'
wait_for '^\|   \[p\] FS Path +\|$'
wait_for '^\|   \[x\] Exit +\|$'
wait_for '^\|   \[t\] TCP/IP +grayed \|$'
wait_for '^\|   \[i\] IPX/SPX +grayed \|$'
wait_for '^\|   \[s\] Using SquawkBox +checked \|$'
wait_for '^\|   \[m\] Manual connect only +\|$'
wait_for '^\|   \[a\] About Skyrelay +\|$'
wait_for 'Ticks: [0-9]+'

# A grayed item does nothing; the toggle enables it.
tmux send-keys -t "$session" t
wait_for '"TCP/IP" is grayed'
tmux send-keys -t "$session" s
wait_for '^\|   \[s\] Using SquawkBox +\|$'
wait_for '^\|   \[t\] TCP/IP +\|$'

# A box: the timer keeps ticking behind it.
tmux send-keys -t "$session" t
wait_for '^\| \(X\) Connect command 154 +\|$'
before="$(ticks)"
for _ in $(seq 1 100); do
    [ "$(ticks)" -gt "$before" ] && break
    sleep 0.1
done
[ "$(ticks)" -gt "$before" ] || fail "the timer stopped while the box was open"
screen | grep -qE '^\| \(X\) Connect command 154' || fail "the box closed by itself"
tmux send-keys -t "$session" Enter
for _ in $(seq 1 100); do
    screen | grep -q 'Connect command 154' || break
    sleep 0.1
done
screen | grep -q 'Connect command 154' && fail "Enter did not close the box"

# The folder prompt.
tmux send-keys -t "$session" p
wait_for '^\+-\[ Browse For Folder \]'
tmux send-keys -t "$session" -l '/tmp/fs 2002'
wait_for '^\| > /tmp/fs 2002_ +\|$'
tmux send-keys -t "$session" Enter
wait_for '^\| FS PATH: /tmp/fs 2002 +\|$'

# The About box from the system menu.
tmux send-keys -t "$session" a
wait_for '^\+-\[ About Skyrelay \]'
wait_for '^\| Skyrelay Version 2.0 +\|$'
wait_for '\[ OK \] \|$'
tmux send-keys -t "$session" Enter
for _ in $(seq 1 100); do
    screen | grep -q 'Skyrelay Version 2.0' || break
    sleep 0.1
done
screen | grep -q 'Skyrelay Version 2.0' && fail "Enter did not close the About box"

# Ctrl-C is File > Exit; the terminal is given back.
tmux send-keys -t "$session" C-c
wait_for '^EXITED 0$'
screen | grep -q 'Skyrelay' && fail "the dialog is still on the screen after it ended"

expected="command: 156
command: 154
command: 135
syscommand: 16
command: 57665
result: 1"
if [ "$(cat "$log")" != "$expected" ]; then
    echo "FAIL: the demo got other commands:"
    cat "$log"
    exit 1
fi
echo "PASS: terminal dialog driven through tmux"

#!/usr/bin/env bash
# The headless dialog as a separate process: command lines on stdin, the report lines on stderr,
# end of input that is no command, and SIGTERM and SIGINT ending it through File > Exit.
# Usage: dialog_headless.sh BIN_DIR
set -euo pipefail
bin="$1"
work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $1"
    exit 1
}

# Commands by item text; stdout has what the demo's handler got, stderr the report lines.
printf '%s\n' "TCP/IP" "Using SquawkBox" "TCP/IP" "Nonsense" "FS Path /opt/FS 2002" "About" \
    "Exit" "Manual connect only" |
    timeout 10 "$bin/dialog-demo" >"$work/out" 2>"$work/err" || fail "the demo exited $?"
[ "$(cat "$work/out")" = "command: 156
command: 154
command: 135
syscommand: 16
command: 57665
result: 1" ] || { cat "$work/out"; fail "commands"; }
[ "$(cat "$work/err")" = "status: Demo running
grayed: TCP/IP
box: Connect command 154
unknown command: Nonsense
path: /opt/FS 2002
dialog: About Skyrelay" ] || { cat "$work/err"; fail "report lines"; }

# The end of input is no command: the dialog runs on until a signal ends it like Exit.
for signal in TERM INT; do
    "$bin/dialog-demo" --headless </dev/null >"$work/out" 2>"$work/err" &
    pid=$!
    pids+=("$pid")
    sleep 0.5
    kill -0 "$pid" 2>/dev/null || fail "the dialog ended at the end of its input"
    kill -"$signal" "$pid"
    status=0
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && fail "SIG$signal did not end the dialog"
    wait "$pid" || status=$?
    [ "$status" -eq 0 ] || fail "SIG$signal: exit status $status"
    [ "$(cat "$work/out")" = "command: 57665
result: 1" ] || { cat "$work/out"; fail "SIG$signal did not arrive as File > Exit"; }
done
echo "PASS: headless dialog"

# Sourced by the scripts that drive a program in tmux: reading the pane and waiting for it. The
# sourcing script sets `session` (the tmux session's name) first.

screen() { tmux capture-pane -p -t "$session"; }

fail() {
    echo "FAIL: $1"
    screen
    exit 1
}

# Waits up to 20 s for the screen to show a line matching an extended regular expression.
wait_for() {
    for _ in $(seq 1 200); do
        if screen | grep -qE -- "$1"; then return 0; fi
        sleep 0.1
    done
    fail "the screen never showed /$1/"
}

#!/usr/bin/env bash
# Measures what the Windows relay itself costs with traffic, in one run, each over its own window:
#   linux   the Linux relay (release `skyrelay --headless`) joined to `skyrelay-session` with 30
#           aircraft at 10 messages a second each, `skyrelay-sim` as the simulator;
#   relay   Skyrelay.exe (the x86_64 build) under Wine 10, joined by itself through Wine's own
#           DirectPlay to `skyrelay-session --directplay` with the same traffic, skyrelay-sim.exe
#           as the simulator;
#   floor   what Wine's DirectPlay costs a program that does nothing with the traffic: dp_probe.exe
#           joined the same way, waiting on its event and discarding every message.
# "Using SquawkBox" is on in both relays (the way a relay joins by itself), so both publish every
# 12th tick. For each process: CPU as the process's own user and system time (all threads) over
# the window, as a share of one core, which a busy machine disturbs less than a share of the wall
# clock; wake-ups a second (its threads' context switches); resident memory at the window's end
# and at its peak; and the load average at the window's start and end. wineserver, and the rest
# of Wine, are counted separately.
# The Wine windows run in the Debian 13 root with Wine 10 that the Wine 10 tests use, in a private
# network namespace, holding the root's lock (the tests wait meanwhile): this needs root.
# Usage: scripts/measure-windows.sh [SECONDS]   (default 60; about 6 minutes with 60)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/stop_processes.bash
source tests/win32/wine10_chroot.bash

# Not `seconds`: the namespace's helper has a local of that name, which would shadow it there.
duration=${1:-60}
case "$duration" in
'' | *[!0-9]*)
    echo "usage: scripts/measure-windows.sh [SECONDS]" >&2
    exit 2
    ;;
esac
[ "$duration" -ge 5 ] || { echo "measure-windows: SECONDS must be at least 5" >&2; exit 2; }
settle=5 # seconds after the join before the window starts
traffic=(--aircraft 30 --rate 10 --squawkbox)

scripts/setup.sh
echo "measure-windows: building (release preset and mingw preset)"
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target skyrelay skyrelay-sim skyrelay-session >/dev/null
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2 --target Skyrelay skyrelay-sim dp_probe >/dev/null
linux_bin="$PWD/build/release/bin"
windows_bin="$PWD/build/mingw/bin"

work="$(mktemp -d "${TMPDIR:-/tmp}/skyrelay-measure-windows.XXXXXX")"
pids=()
stop() {
    trap - EXIT INT TERM
    { exec 3>&-; } 2>/dev/null || true
    stop_processes
    rm -f /dev/shm/"${SKYRELAY_SHM_PREFIX:-none-}"*
    [ -z "${SKYRELAY_MEASURE_KEEP:-}" ] || cp -r "$work" "$SKYRELAY_MEASURE_KEEP"
    rm -rf "$work"
}
trap stop EXIT
trap 'exit 130' INT TERM

# Waits up to $3 seconds for a line matching $2 in file $1; false if none comes.
wait_for() {
    for _ in $(seq 1 $(($3 * 10))); do
        grep -qE -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "measure-windows: no \"$2\" in $(basename "$1") within $3 s" >&2
    tail -n 5 "$1" >&2 2>/dev/null || true
    return 1
}

# One line a process: "PID NAME TICKS SWITCHES", TICKS its user and system time (all threads,
# clock ticks), SWITCHES the context switches of its threads, voluntary or not (its wake-ups);
# NAME the last part of its first argument: under Wine, a program's own path (the `wine` that
# started it has the path as a later argument, and is another process); on Wine's 32-bit side,
# run by qemu-i386, the first argument that names a Windows program. WHICH is a directory (the
# processes whose root it is) or a list of process ids.
processes() {
    local which=$1 dir pid name ticks switches
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        if [ "${which:0:1}" = / ]; then
            [ "$(readlink "$dir/root" 2>/dev/null)" = "$which" ] || continue
        else
            [[ " $which " == *" $pid "* ]] || continue
        fi
        name=$(tr '\0' '\n' <"$dir/cmdline" 2>/dev/null |
            awk 'NR == 1 {first = $0; if (first !~ /qemu-[^\/]*$/) exit}
                 NR > 1 && tolower($0) ~ /\.exe$/ {print; found = 1; exit}
                 END {if (!found) print first}') || continue
        name=${name##*[/\\]}
        [ -n "$name" ] || continue
        # The fields after the command's name: utime and stime are the 12th and 13th.
        ticks=$(sed 's/.*) //' "$dir/stat" 2>/dev/null | awk '{print $12 + $13}') || continue
        switches=$(cat "$dir"/task/*/status 2>/dev/null |
            awk '/ctxt_switches/ {s += $2} END {print s + 0}')
        [ -n "$ticks" ] && echo "$pid ${name// /_} $ticks $switches"
    done
}

# Measures one window: the processes named NAME... among WHICH (see processes) over `duration`
# seconds (wineserver also as wineserver64); appends one line a process to $work/results:
# "WINDOW NAME CPU% WAKEUPS_A_SECOND RSS_MiB PEAK_MiB LOAD_START LOAD_END"; with a root, the rest
# of its processes summed as "(rest_of_Wine)".
# Usage: measure_window WINDOW WHICH NAME...
measure_window() {
    local window=$1 root=$2
    shift 2
    local before after load_start load_end start end
    load_start=$(cut -d' ' -f1 /proc/loadavg)
    start=$(date +%s%N)
    before=$(processes "$root")
    sleep "$duration"
    after=$(processes "$root")
    end=$(date +%s%N)
    printf '%s\n' "$after" >"$work/processes.$window"
    load_end=$(cut -d' ' -f1-3 /proc/loadavg)
    local name pid memory measured=" "
    for name in "$@"; do
        # Wine's launcher of a program carries the program's name too: the program is the one of
        # them that has used the most time.
        pid=$(awk -v n="$name" 'tolower($2) == tolower(n) || $2 == n "64" {
                if (!found || $3 > most) { found = 1; most = $3; pid = $1 } }
            END {print pid}' <<<"$after")
        [ -n "$pid" ] || { echo "measure-windows: $name is not running" >&2; return 1; }
        measured+=" $pid"
        memory=$(awk '/^VmRSS/ {r = $2} /^VmHWM/ {h = $2}
            END {printf "%.1f %.1f", r / 1024, h / 1024}' "/proc/$pid/status")
        awk -v pid="$pid" -v b="$before" -v a="$after" -v hz="$(getconf CLK_TCK)" \
            -v wall="$((end - start))" -v line="$window $name" \
            -v rest="$memory $load_start $load_end" '
            function field(list, id, k,    n, i, f) {
                n = split(list, lines, "\n")
                for (i = 1; i <= n; i++) { split(lines[i], f, " "); if (f[1] == id) return f[k] }
                return 0
            }
            BEGIN {
                seconds = wall / 1e9
                printf "%s %.3f %.1f %s\n", line,
                    (field(a, pid, 3) - field(b, pid, 3)) / hz / seconds * 100,
                    (field(a, pid, 4) - field(b, pid, 4)) / seconds, rest
            }' >>"$work/results"
    done
    [ "${root:0:1}" = / ] || return 0
    # Whatever else of Wine ran in the root (services, the desktop, device drivers), summed; each
    # of them also on a line of its own in $work/rest.
    awk -v b="$before" -v measured="$measured " -v window="$window" -v rest="$work/rest" \
        -v hz="$(getconf CLK_TCK)" -v wall="$((end - start))" -v line="$window (rest_of_Wine)" \
        -v loads="$load_start $load_end" '
        BEGIN {
            n = split(b, lines, "\n")
            for (i = 1; i <= n; i++) { split(lines[i], f, " "); old[f[1]] = f[3] }
        }
        { if (index(measured, " " $1 " ")) next
          used = $3 - (($1 in old) ? old[$1] : 0)
          sum += used
          printf "%s %s %.3f\n", window, $2, used / hz / (wall / 1e9) * 100 >>rest }
        END { printf "%s %.3f - - - %s\n", line, sum / hz / (wall / 1e9) * 100, loads }' \
        <<<"$after" >>"$work/results"
}

# 1. The Linux relay, in a folder, shared memory prefix and session port of its own.
export SKYRELAY_RUNTIME_DIR="$work/run"
export SKYRELAY_CONFIG_DIR="$work/config"
export SKYRELAY_SHM_PREFIX="skyrelay-measure-windows-$$-"
export SKYRELAY_SESSION_PORT="$((47900 + $$ % 90))"
mkdir -p "$SKYRELAY_RUNTIME_DIR" "$SKYRELAY_CONFIG_DIR" "$work/FS2002"
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$work/FS2002/FS2002.cfg"
printf '[Skyrelay]\r\nFSPath=%s\r\nUsingSB=1\r\nManualConnect=0\r\n' "$work/FS2002" \
    >"$SKYRELAY_CONFIG_DIR/Skyrelay.ini"
echo "measure-windows: the Linux relay, $duration s"
"$linux_bin/skyrelay-session" "${traffic[@]}" >"$work/session.out" 2>&1 &
pids+=($!)
wait_for "$work/session.out" '^hosting ' 10
"$linux_bin/skyrelay-sim" >/dev/null 2>"$work/sim.err" &
pids+=($!)
mkfifo "$work/relay.in"
"$linux_bin/skyrelay" --headless <"$work/relay.in" >/dev/null 2>"$work/relay.err" &
pids+=($!)
exec 3>"$work/relay.in"
wait_for "$work/relay.err" '^status: Connected to a session$' 60
sleep "$settle"
measure_window linux "${pids[*]}" skyrelay skyrelay-sim
stop_processes
pids=()
exec 3>&-

# 2. and 3. Under Wine 10, in the root's run folder "measure".
if ! wine10_prepare; then
    echo "measure-windows: cannot run Wine 10: $wine10_why" >&2
    exit 1
fi
state=$wine10_state
run_dir="$wine10_root$state/measure"
rm -rf "$run_dir"
mkdir -p "$run_dir/FS2002"
cp "$windows_bin"/{Skyrelay.exe,skyrelay-sim.exe,dp_probe.exe} "$run_dir/"
printf '[MULTIPLAYER]\r\nPLAYER_NAME=Maverick\r\n' >"$run_dir/FS2002/FS2002.cfg"
session_bin="$linux_bin/skyrelay-session"

# Runs in the namespace (wine10_in_namespace): the relay's window, then the floor's.
inside() {
    set -euo pipefail
    local windows_dir="Z:${state//\//\\}\\measure" host
    printf '[Skyrelay]\r\nFSPath=%s\\FS2002\r\nUsingSB=1\r\nManualConnect=0\r\n' "$windows_dir" \
        >"$wine10_root$state/prefix/drive_c/windows/Skyrelay.ini"

    echo "measure-windows: Skyrelay.exe under Wine 10, $duration s"
    "$session_bin" --directplay "${traffic[@]}" >"$run_dir/relay.host" 2>&1 &
    host=$!
    wine10_run wine "$state/measure/skyrelay-sim.exe" >/dev/null 2>"$run_dir/sim.err" &
    wine10_run wine "$state/measure/Skyrelay.exe" >/dev/null 2>"$run_dir/relay.wine" &
    wait_for "$run_dir/relay.host" '^joined: Skyrelay \(' 90
    sleep "$settle"
    measure_window relay "$wine10_root" Skyrelay.exe wineserver skyrelay-sim.exe
    kill -TERM "$host" 2>/dev/null || true
    wait "$host" || true
    wine10_stop
    wait

    echo "measure-windows: the floor, dp_probe.exe under Wine 10, $duration s"
    "$session_bin" --directplay "${traffic[@]}" >"$run_dir/floor.host" 2>&1 &
    host=$!
    wine10_run wine "$state/measure/dp_probe.exe" --discard --seconds $((duration + 60)) \
        >"$run_dir/floor.probe" 2>"$run_dir/floor.wine" &
    wait_for "$run_dir/floor.host" '^joined: Skyrelay \(' 90
    sleep "$settle"
    measure_window floor "$wine10_root" dp_probe.exe wineserver
    kill -TERM "$host" 2>/dev/null || true
    wait "$host" || true
    wine10_stop
    wait
}
export -f inside wait_for processes measure_window
export state run_dir session_bin duration settle work
export traffic_text="${traffic[*]}"
# Arrays do not cross into the namespace's shell: made again there from the text.
wine10_in_namespace $((duration * 2 + 400)) bash -c 'traffic=($traffic_text); inside'
wine10_stop

echo
echo "measure-windows: $duration s windows, 30 aircraft at 10 messages a second each," \
    "\"Using SquawkBox\" on; CPU is user + system time as a share of one core"
awk '
    BEGIN { printf "%-7s %-18s %8s %10s %8s %8s %s\n", "window", "process", "CPU %", "wake-ups/s",
                   "RSS MiB", "peak MiB", "load average (start; end 1/5/15 min)" }
    { printf "%-7s %-18s %8s %10s %8s %8s %s; %s %s %s\n", $1, $2, $3, $4, $5, $6, $7, $8, $9, $10
      cpu[$1 " " $2] = $3 }
    END {
        if (cpu["floor dp_probe.exe"] > 0)
            printf "\nSkyrelay.exe against the floor: %.2fx (CPU); the Linux relay: %.2fx\n",
                cpu["relay Skyrelay.exe"] / cpu["floor dp_probe.exe"],
                cpu["linux skyrelay"] / cpu["floor dp_probe.exe"]
    }' "$work/results"
if awk '$3 > 0 {found = 1} END {exit !found}' "$work/rest" 2>/dev/null; then
    echo
    echo "the rest of Wine, process by process (CPU % of one core):"
    awk '$3 > 0 {printf "  %-7s %-24s %s\n", $1, $2, $3}' "$work/rest"
fi

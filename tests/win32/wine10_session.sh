#!/usr/bin/env bash
# A Windows DirectPlay client under Wine 10 finds and joins skyrelay-session --directplay over
# TCP/IP and receives the peers, their messages with the senders' names, and the session's
# end. Wine 10 (Debian 13, in a root of its own made on first use) is the only DirectPlay here
# that can join a session; everything runs in a private network namespace on loopback, so
# nothing leaves the machine. The client is dp_probe.exe, which joins the way the relay does:
# by the lobby's address for 127.0.0.1, by the connection as offered, and again after a session
# lost.
#
# Usage: wine10_session.sh LINUX_BIN_DIR WINDOWS_BIN_DIR
#   LINUX_BIN_DIR holds skyrelay-session (the debug preset's build/debug/bin), WINDOWS_BIN_DIR
#   dp_probe.exe (the mingw preset's build/mingw/bin).
# Environment: SKYRELAY_WINE10_ROOT, where the Debian 13 root with Wine 10 is kept
#   (default /var/tmp/skyrelay-wine10; about 1.5 GB, made in a few minutes, then reused).
# Exit status: 0 passed, 1 failed, 77 skipped (the reason on one line).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine10_chroot.bash"

skip() {
    echo "SKIP wine10_session: $*"
    exit 77
}

[ $# -eq 2 ] || { echo "usage: $0 LINUX_BIN_DIR WINDOWS_BIN_DIR" >&2; exit 2; }
session_bin=$(cd "$1" 2>/dev/null && pwd || true)/skyrelay-session
probe_exe=$(cd "$2" 2>/dev/null && pwd || true)/dp_probe.exe
[ -x "$session_bin" ] || skip "no skyrelay-session in $1 (build the debug preset first)"
[ -f "$probe_exe" ] || skip "no dp_probe.exe in $2 (build the mingw preset first)"
[ "$(id -u)" = 0 ] || skip "needs root for the Wine 10 root and a private network namespace"
command -v unshare >/dev/null && unshare -n -m true 2>/dev/null ||
    skip "cannot create a private network namespace here"
# One run at a time per root: they share its Wine prefix, and the first one makes the root.
mkdir -p "$(dirname "$wine10_root")"
exec 9>"$wine10_root.lock"
flock -w 900 9 || skip "another run has held $wine10_root.lock for 15 minutes"
reason=$(wine10_ensure_root) || skip "cannot build the Wine 10 root: ${reason##*$'\n'}"
[ -z "$reason" ] || echo "$reason"

# The run's files live inside the root, where the Windows programs see them; the prefix is kept.
state=/var/lib/skyrelay-wine10
run_dir="$wine10_root$state/run"
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$probe_exe" "$run_dir/"
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

# Runs in the namespace: loopback up and the default route through it (the client broadcasts
# its enumeration to 255.255.255.255), the root's mounts private to the namespace.
inside() {
    set -euo pipefail
    ip link set lo up
    ip route add default dev lo src 127.0.0.1
    mount -t proc proc "$wine10_root/proc"
    mount --bind /dev "$wine10_root/dev"
    mount --bind /dev/pts "$wine10_root/dev/pts"
    mount -t tmpfs tmpfs "$wine10_root/dev/shm"
    wine_in_root() {
        chroot "$wine10_root" env -i PATH=/usr/bin:/bin HOME=/root WINEARCH=win64 \
            WINEPREFIX="$state/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" \
            WINEDEBUG="-all,err+dplay,+seh" "$@"
    }
    if [ ! -f "$wine10_root$state/prefix/system.reg" ]; then
        echo "making the Wine 10 prefix"
        timeout 240 chroot "$wine10_root" env -i PATH=/usr/bin:/bin HOME=/root WINEARCH=win64 \
            WINEPREFIX="$state/prefix" WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all \
            sh -c 'wineboot -i && wineserver -w' >/dev/null 2>&1 || echo "wineboot failed"
    fi
    local round host_args probe_args
    for round in aircraft scenario menu rejoin; do
        case $round in
        aircraft) host_args=(--aircraft 2) probe_args=(--seconds 3) ;;
        scenario) host_args=(--scenario "$run_dir/scenario.txt") probe_args=(--seconds 15) ;;
        menu) host_args=(--scenario "$run_dir/menu.txt") probe_args=(--seconds 15 --offered) ;;
        rejoin) host_args=(--scenario "$run_dir/rejoin.txt") probe_args=(--seconds 15 --rejoin) ;;
        esac
        "$session_bin" --directplay "${host_args[@]}" >"$run_dir/$round.host" 2>&1 &
        local host=$!
        sleep 0.3
        wine_in_root timeout 90 wine "$state/run/dp_probe.exe" "${probe_args[@]}" \
            >"$run_dir/$round.probe" 2>"$run_dir/$round.wine" || echo "probe exit $?" >>"$run_dir/$round.probe"
        sleep 0.5
        kill -TERM "$host" 2>/dev/null || true
        wait "$host" || true
        timeout 20 chroot "$wine10_root" env WINEPREFIX="$state/prefix" wineserver -k 2>/dev/null || true
    done
}
export -f inside
export wine10_root state run_dir session_bin
timeout 280 unshare -n -m --propagation private bash -c inside || echo "namespace run ended with $?"

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
for round in aircraft scenario menu rejoin; do
    if grep -E "No receipt event|code=80000003|Unhandled exception|WineDbg" "$run_dir/$round.wine" \
        "$run_dir/$round.probe"; then
        echo "FAIL: $round: the client's DirectPlay complained"
        failures=$((failures + 1))
    fi
done

# Ids: 0xA00001 is the host's system player; peers present at the start come next, then the
# client's system player and its player.
expect "$run_dir/aircraft.probe" '
session: "Skyrelay session" size=88 max=256 current=2
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
session: "Skyrelay session" size=88 max=256 current=0
open: 0x00000000
create: 0x00000000 id=0xA00003
system: to=0xA00003 size=70 type=0x3 id=0xA00004 name=PEER1
message: from=0xA00004 to=0xA00003 size=58 type=4121 name=PEER1 bytes=19100000000000000000000000000000000000000000000000000000c0c62d00000000000008000040420f00807be1fff4010000000000000080
system: to=0xA00003 size=70 type=0x3 id=0xA00005 name=PEER2
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
session: "Skyrelay session" size=88 max=256 current=0
open: 0x00000000
create: 0x00000000 id=0xA00003
system: to=0xA00003 size=70 type=0x3 id=0xA00004 name=PEER1
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

if [ "$failures" -ne 0 ]; then
    echo "wine10_session: $failures checks failed (files in $run_dir)"
    exit 1
fi
echo "wine10_session: passed (Wine 10 joined skyrelay-session --directplay; files in $run_dir)"

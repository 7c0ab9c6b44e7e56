#!/usr/bin/env bash
# The real Skyrelay.exe under Wine, driven from outside by dialog_driver.exe: each case writes the
# settings file (Skyrelay.ini in Wine's Windows folder) and the simulator's registry keys (with
# `wine reg`), then runs the driver's steps against a fresh relay. Every wait is bounded; a case
# that fails ends its relay. Usage: dialog_test.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine_env.bash" "$1"
bin="$wine_build_dir/bin"
ini="$WINEPREFIX/drive_c/windows/Skyrelay.ini"
windows_path() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
relay=$(windows_path "$bin/Skyrelay.exe")
# The box of a failed save: the file in the Windows folder and the system's reason, here for a
# read-only file (the system's words for ERROR_ACCESS_DENIED, without their full stop).
saved_box='Skyrelay could not save its settings to C:\windows\Skyrelay.ini: Access denied. The change holds until Skyrelay exits.'

# The simulator's keys in the order the relay searches them.
fs='HKLM\SOFTWARE\Microsoft\Microsoft Games\Flight Simulator'
key8="$fs\\8.0"
key7="$fs\\7.0"
key6='HKLM\SOFTWARE\Microsoft\Games\Flight Simulator\6.0'

passed=0
failed=0

# settings KEY=VALUE...: Skyrelay.ini with these keys in section Skyrelay; none: no file at all.
settings() {
    chattr -i "$ini" 2>/dev/null
    rm -f "$ini"
    [ $# -gt 0 ] || return 0
    { printf '[Skyrelay]\r\n'; for pair in "$@"; do printf '%s\r\n' "$pair"; done; } >"$ini"
}

# registry KEY NAME=VALUE...: the key with these values, made anew; no values: the key removed.
# In the 32-bit view, where the simulator's installer writes.
registry() {
    local key=$1
    shift
    wine reg delete "$key" /reg:32 /f >/dev/null 2>&1
    for pair in "$@"; do
        wine reg add "$key" /v "${pair%%=*}" /d "${pair#*=}" /reg:32 /f >/dev/null 2>&1 ||
            echo "cannot add $key ${pair%%=*}"
    done
}

# check NAME STEP...: one relay driven through the steps.
check() {
    local name=$1
    shift
    local output
    if output=$(timeout 150 wine "$bin/dialog_driver.exe" "$relay" "$@" 2>&1); then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
        printf '%s\n' "$output" | sed 's/^/    /'
    fi
}

for key in "$key8" "$key7" "$key6"; do registry "$key"; done

settings 'FSPath=C:\FS2002\' UsingSB=0 ManualConnect=0
check "main window, menus, toggles saved at once, File > Exit zeroes AIFile" \
    start ready caption=Skyrelay status= 'path=C:\FS2002\' icons=1,1,1 \
    'menu=&File:FS Path=135,0;E&xit=57665,0|Multiplayer connect:TCP/IP=154,0;IPX/SPX=155,0|Config:Using SquawkBox=156,0;Manual connect only=157,0' \
    'sysmenu=-|&About Skyrelay=16' \
    command=156 ini=UsingSB:1 states=156:8,157:0,154:1,155:1 \
    command=157 ini=ManualConnect:1 states=156:8,157:8,154:0,155:0 \
    command=156 ini=UsingSB:0 states=156:0,157:8,154:0,155:0 \
    command=0xE141 exited

settings 'FSPath=C:\FS2002' UsingSB=1 ManualConnect=0
check "automatic: connect items grayed; Escape ends" \
    start ready states=156:8,157:0,154:1,155:1 key=escape exited

settings 'FSPath=C:\FS2002' UsingSB=1 ManualConnect=1
check "manual connect only wins: items enabled; the close button ends" \
    start ready states=156:8,157:8,154:0,155:0 syscommand=0xF060 exited

settings 'FSPath=C:\FS2002' UsingSB=2 ManualConnect=0
check "a stored 2: no check mark, yet on; the toggle writes 0; Enter ends" \
    start ready states=156:0,157:0,154:1,155:1 command=156 ini=UsingSB:0 \
    states=156:0,157:0,154:0,155:0 key=enter exited

settings 'FSPath=C:\FS2002' UsingSB=0 ManualConnect=1
check "About from the system menu, 0x0010 to 0x001F" \
    start ready states=156:0,157:8,154:0,155:0 syscommand=0x10 about syscommand=0x1F about \
    command=0xE141 exited

settings 'FSPath=C:\FS2002' UsingSB=0 ManualConnect=0
check "File > FS Path: Cancel changes nothing, OK saves the folder at once and shows it" \
    start ready command=135 browse=cancel 'path=C:\FS2002' 'ini=FSPath:C:\FS2002' \
    command=135 browse=ok 'ini=FSPath:%DESKTOP%' 'path=%DESKTOP%' command=0xE141 exited

# A read-only Skyrelay.ini (Wine shows a file without write permission as read-only), made
# immutable too where the tests run as root, whom permissions do not stop: every save fails; the
# first is said, once, and the options and the folder still change for the run.
settings 'FSPath=C:\FS2002' UsingSB=0 ManualConnect=0
chmod a-w "$ini"
if [ "$(id -u)" -ne 0 ] || chattr +i "$ini" 2>/dev/null; then
    check "a read-only Skyrelay.ini: the first failed save is said once, the change holds" \
        start ready command=156 "box=$saved_box" states=156:8,154:1,155:1 command=157 nobox \
        states=157:8,154:0,155:0 command=135 browse=ok 'path=%DESKTOP%' nobox ini=UsingSB:0 \
        'ini=FSPath:C:\FS2002' command=0xE141 exited
else
    echo "SKIP a read-only Skyrelay.ini: root, and no immutable files here (chattr)"
fi
settings 'FSPath=C:\FS2002' UsingSB=0 ManualConnect=0

check "TCP/IP from the menu finds no session: the box is the dialog's, the items come back" \
    start ready command=154 "box=Couldn't find a Multiplayer session. " \
    states=154:0,155:0 status= command=0xE141 exited

if [ -f "$bin/skyrelay-sim.exe" ]; then
    check "FS Detected with skyrelay-sim running" \
        "sim=$(windows_path "$bin/skyrelay-sim.exe")" start ready 'status=FS Detected' \
        command=0xE141 exited
    check "a second Skyrelay.exe ends at once and brings the running relay back, which goes on" \
        "sim=$(windows_path "$bin/skyrelay-sim.exe")" start ready 'status=FS Detected' minimize \
        second nobox 'status=FS Detected' command=157 ini=ManualConnect:1 command=157 \
        ini=ManualConnect:0 command=0xE141 exited
    # The real relay's counters, read by another Windows process; and read_aifile.exe, the example
    # reader, reads what skyrelay-aifile.exe reads: those counters, and a picture of two aircraft
    # (Alpha, Bravo) laid into "AIFile" while no pump runs to overwrite it.
    stats="$wine_build_dir/dialog.stats.json"
    aifile="$wine_build_dir/dialog.aifile.json"
    reader="$wine_build_dir/dialog.read_aifile.txt"
    rm -f "$stats" "$aifile" "$reader"
    picture=0200000002000000ffff1f420000b4c2b0274d45b4d3b3430000dc42000016c4$(printf '0%.0s' {1..64})
    picture+=0000b4c200003442cd3b03c2b40034430000424300001644
    check "the relay's counters: found the simulator, not in a session, manual mode" \
        "sim=$(windows_path "$bin/skyrelay-sim.exe")" start ready 'status=FS Detected' idle \
        "stats=$(windows_path "$stats")" "picture=$picture" "aifile=$(windows_path "$aifile")" \
        "reader=$(windows_path "$reader")" command=0xE141 exited
    if python3 "$here/../e2e/readers_agree.py" "$reader" "$aifile" "$stats"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL read_aifile.exe and skyrelay-aifile.exe disagree"
    fi
    sentence='"diagnosis":"Not in a session, and Skyrelay makes no attempt to join by itself'
    if grep -qF "$sentence" "$stats" 2>/dev/null && grep -qF '"simDetected":1,' "$stats" &&
        grep -qF '"running":1,' "$stats"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL the relay's counters: $(cat "$stats" 2>/dev/null)"
    fi
else
    echo "SKIP FS Detected: no skyrelay-sim.exe in $bin"
fi

settings
check "no folder anywhere: the framework's box, owned by the dialog; the path line kept" \
    start "box=Can't find FS2002 PAth" ready path=Static command=0xE141 exited

registry "$key8" 'EXE Path=C:\FS8'
registry "$key7" 'EXE Path=C:\FS7'
check "registry: key 8.0 first" start ready 'path=C:\FS8' command=0xE141 exited

registry "$key8" 'Version=8.0'
check "registry: key 8.0 opens without the values, so key 7.0 is never read" \
    start "box=Can't find FS2002 PAth" ready path=Static command=0xE141 exited

registry "$key8"
registry "$key7" 'Path=C:\FS7' 'InstalledTo=C:\Other'
check "registry: key 7.0, Path before InstalledTo" start ready 'path=C:\FS7' command=0xE141 exited

registry "$key7"
registry "$key6" 'InstalledTo=C:\FS6'
check "registry: key 6.0, InstalledTo" start ready 'path=C:\FS6' command=0xE141 exited

settings 'FSPath=D:\Mine'
check "the settings file's folder before the registry" \
    start ready 'path=D:\Mine' command=0xE141 exited

registry "$key6"
settings
echo "dialog: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

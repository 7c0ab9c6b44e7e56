#!/usr/bin/env bash
# Makes the build's Wine prefix (once) and starts a virtual X display for the Windows programs'
# windows. Usage: wine_setup.sh BUILD_DIR
set -euo pipefail
here=$(dirname "$0")
source "$here/wine_env.bash" "$1"
command -v wine >/dev/null || { echo "wine is not installed (scripts/setup.sh installs it)"; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (scripts/setup.sh installs it)"; exit 1; }

# A display of our own; -displayfd picks a free number.
if [ -f "$wine_build_dir/wine-xvfb.pid" ] && kill -0 "$(cat "$wine_build_dir/wine-xvfb.pid")" 2>/dev/null; then
    echo "display $(cat "$wine_build_dir/wine-display") already running"
else
    exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!")
    read -r _ xvfb_pid <&3
    number=""
    read -r -t 20 number <&3 || true
    [ -n "$number" ] || { echo "Xvfb did not start"; kill "$xvfb_pid" 2>/dev/null; exit 1; }
    echo "$xvfb_pid" >"$wine_build_dir/wine-xvfb.pid"
    echo ":$number" >"$wine_build_dir/wine-display"
    export DISPLAY=":$number"
    echo "display :$number (Xvfb $xvfb_pid)"
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the Wine prefix $WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1
    wineserver -w
fi
echo "wine prefix ready: $(wine --version)"

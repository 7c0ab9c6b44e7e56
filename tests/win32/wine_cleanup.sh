#!/usr/bin/env bash
# Stops the Wine server and the virtual display that wine_setup.sh started.
# Usage: wine_cleanup.sh BUILD_DIR
set -uo pipefail
source "$(dirname "$0")/wine_env.bash" "$1"
wineserver -k 2>/dev/null
if [ -f "$wine_build_dir/wine-xvfb.pid" ]; then
    kill "$(cat "$wine_build_dir/wine-xvfb.pid")" 2>/dev/null
    rm -f "$wine_build_dir/wine-xvfb.pid" "$wine_build_dir/wine-display"
fi
exit 0

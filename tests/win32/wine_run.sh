#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's prefix and display; its exit status is the
# program's. Usage: wine_run.sh BUILD_DIR PROGRAM.exe [ARGS...]
set -euo pipefail
source "$(dirname "$0")/wine_env.bash" "$1"
shift
exec wine "$@"

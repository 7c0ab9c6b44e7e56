#!/usr/bin/env bash
# Builds the relay and runs it on the Linux stand-ins.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)"
echo "The relay program and its stand-ins are being built up piece by piece; the live demo"
echo "(relay, simulator stand-in, multiplayer host and an AIFile reader) arrives with the main window."

#!/usr/bin/env bash
# Builds Skyrelay and runs every test: the g++ debug build, the AddressSanitizer and
# UndefinedBehaviorSanitizer build, and the clang build; then cross-builds the core for Windows
# with mingw-w64 (built, not run). Installs what is missing first.
# Usage: scripts/test.sh [preset...]   (default: debug asan clang mingw)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug asan clang mingw)
jobs=$(nproc 2>/dev/null || echo 2)

for preset in "${presets[@]}"; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    if [ "$preset" = mingw ]; then
        continue # a Windows build: nothing here runs it
    fi
    echo "== $preset: tests"
    ctest --preset "$preset" -j "$jobs"
done
echo "== all tests passed (${presets[*]})"

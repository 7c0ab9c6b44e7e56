#!/usr/bin/env bash
# Builds Skyrelay and runs every test: the g++ debug build, the AddressSanitizer and
# UndefinedBehaviorSanitizer build, and the clang build. Installs what is missing first.
# Usage: scripts/test.sh [preset...]   (default: debug asan clang)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug asan clang)
jobs=$(nproc 2>/dev/null || echo 2)

for preset in "${presets[@]}"; do
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset: tests"
    ctest --preset "$preset" -j "$jobs"
done
echo "== all tests passed (${presets[*]})"

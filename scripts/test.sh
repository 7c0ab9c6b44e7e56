#!/usr/bin/env bash
# Builds Skyrelay and runs every test: the g++ debug build, the AddressSanitizer and
# UndefinedBehaviorSanitizer build, and the clang build; then the Windows builds with mingw-w64:
# x86_64, whose tests run under Wine, and i686, whose tests run under Wine 10's 32-bit side in
# emulation; the i686 build ends with the download, its zip. Then every fuzz target for a few
# seconds. Installs what is missing first.
# Usage: scripts/test.sh [preset...]   (default: debug asan clang mingw mingw-i686 fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(debug asan clang mingw mingw-i686 fuzz)
jobs=$(nproc 2>/dev/null || echo 2)

for preset in "${presets[@]}"; do
    if [ "$preset" = fuzz ]; then
        echo "== fuzz: every target for ${SKYRELAY_FUZZ_SECONDS:-5} s (scripts/fuzz.sh runs them longer)"
        scripts/fuzz.sh "${SKYRELAY_FUZZ_SECONDS:-5}"
        continue
    fi
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset: tests"
    ctest --preset "$preset" -j "$jobs"
    if [ "$preset" = mingw-i686 ]; then
        echo "== $preset: the download"
        scripts/package-windows.sh
    fi
done
echo "== all tests passed (${presets[*]})"

#!/usr/bin/env bash
# Makes the Windows zips, Skyrelay-<version>-win64.zip and -win32.zip, from the mingw and mingw-i686
# builds (configured and built first, as scripts/test.sh does) and checks that each holds
# Skyrelay.exe, skyrelay-sim.exe, skyrelay-aifile.exe and README.txt. Prints each zip's path.
# Usage: scripts/package-windows.sh [preset...]   (default: mingw mingw-i686)
set -euo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(mingw mingw-i686)
for preset in "${presets[@]}"; do
    build=build/$preset
    if [ ! -f "$build/CPackConfig.cmake" ]; then
        echo "package: $build is not configured (cmake --preset $preset, then build it)"
        exit 1
    fi
    rm -f "$build"/package/Skyrelay-*.zip
    (cd "$build" && cpack -G ZIP >/dev/null)
    zip=$(ls "$build"/package/Skyrelay-*.zip)
    listing=$(cmake -E tar tf "$zip")
    for file in Skyrelay.exe skyrelay-sim.exe skyrelay-aifile.exe README.txt; do
        grep -qx "[^/]*/$file" <<<"$listing" || { echo "package: $zip lacks $file"; exit 1; }
    done
    echo "$zip"
done

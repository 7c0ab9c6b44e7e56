#!/usr/bin/env bash
# Makes the Windows download, Skyrelay-<version>-win32.zip, from the mingw-i686 build (configured
# and built first, as scripts/test.sh does) and checks that it holds Skyrelay.exe, skyrelay-sim.exe,
# skyrelay-aifile.exe and README.txt, the programs stripped, and what developers of other readers
# need (the shared blocks' layout page, the C header and the example reader's source). Prints the
# zip's path. The mingw (x86_64) build is for the tests under Wine and is not shipped.
# Usage: scripts/package-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/mingw-i686
if [ ! -f "$build/CPackConfig.cmake" ]; then
    echo "package: $build is not configured (cmake --preset mingw-i686, then build it)"
    exit 1
fi
rm -f "$build"/package/Skyrelay-*.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/package/Skyrelay-*-win32.zip)
listing=$(cmake -E tar tf "$zip")
for file in Skyrelay.exe skyrelay-sim.exe skyrelay-aifile.exe README.txt docs/shared-blocks.md \
    include/skyrelay/shared_blocks.h examples/read_aifile.c; do
    grep -qx "[^/]*/$file" <<<"$listing" || { echo "package: $zip lacks $file"; exit 1; }
done
# A stripped program has no symbol table left.
inside=$(mktemp -d)
trap 'rm -rf "$inside"' EXIT
(cd "$inside" && cmake -E tar xf "$OLDPWD/$zip")
# The guide as Notepad shows it: CRLF at the end of every line, the version filled in.
readme=$(ls "$inside"/*/README.txt)
if grep -q '@PROJECT_VERSION@' "$readme" ||
    [ "$(grep -c $'\r$' "$readme")" -ne "$(wc -l <"$readme")" ]; then
    echo "package: README.txt in $zip lacks its version or a CRLF line end"
    exit 1
fi
for program in "$inside"/*/*.exe; do
    if i686-w64-mingw32-objdump -t "$program" | grep -q '^\[ *[0-9]*\]'; then
        echo "package: $(basename "$program") in $zip is not stripped"
        exit 1
    fi
done
echo "$zip"

#!/usr/bin/env bash
# Takes a picture of Skyrelay's main window as Windows shows it: Skyrelay.exe under Wine on a
# virtual X display, beside skyrelay-sim.exe (so the status line reads "FS Detected") and with a
# simulator folder set, inside a Wine desktop window that draws the caption itself. The window is
# cut out of the screen by the desktop's colour around it.
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default docs/skyrelay-window.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/skyrelay-window.png}
build=build/mingw

scripts/setup.sh
if ! command -v import >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q imagemagick
fi
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j 2 --target Skyrelay skyrelay-sim >/dev/null

# A prefix and a display of the picture's own, so nothing else running is touched.
export WINEPREFIX="$PWD/$build/screenshot-prefix"
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb <&3
read -r -t 20 number <&3 || { echo "Xvfb did not start"; kill "$xvfb"; exit 1; }
export DISPLAY=":$number"
stop() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap stop EXIT
[ -f "$WINEPREFIX/system.reg" ] || { wine wineboot -i >/dev/null 2>&1; wineserver -w; }

# The caption buttons' and the dialog's fonts as Windows has them: Wine's own Marlett and Tahoma,
# from the data folder beside Wine's program folder.
fonts="$(dirname "$(readlink -f "$(command -v wine)")")/../share/wine/fonts"
for font in marlett tahoma tahomabd; do
    [ -f "$fonts/$font.ttf" ] && cp "$fonts/$font.ttf" "$WINEPREFIX/drive_c/windows/Fonts/"
done
printf '[Skyrelay]\r\nFSPath=C:\\Program Files\\FS2002\r\nUsingSB=0\r\nManualConnect=1\r\n' \
    >"$WINEPREFIX/drive_c/windows/Skyrelay.ini"

# Both in the one Wine desktop: the relay finds the simulator's window only on its own desktop.
wine explorer /desktop=Skyrelay,400x200 "$build/bin/skyrelay-sim.exe" >/dev/null 2>&1 &
sleep 2
wine explorer /desktop=Skyrelay,400x200 "$build/bin/Skyrelay.exe" >/dev/null 2>&1 &
sleep 6 # the detection timer fires every 2 s

shot=$(mktemp --suffix=.png)
import -window root -crop 400x200+0+0 +repage "$shot"
desktop=$(convert "$shot" -format '%[pixel:p{399,199}]' info:)
convert "$shot" -bordercolor "$desktop" -border 1 -trim +repage -strip \
    -define png:exclude-chunks=date,time "$out"
rm -f "$shot"
echo "$out: $(identify -format '%wx%h' "$out")"

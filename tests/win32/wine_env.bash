# Sourced by the Wine test scripts: the build's own Wine prefix, quiet, without the Mono and
# Gecko installers, and the virtual display that wine_setup.sh started.
# Usage: source wine_env.bash BUILD_DIR
wine_build_dir=$(cd "$1" && pwd)
export WINEPREFIX="$wine_build_dir/wine-prefix"
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$wine_build_dir/wine-display" ]; then
    DISPLAY=$(cat "$wine_build_dir/wine-display")
    export DISPLAY
fi

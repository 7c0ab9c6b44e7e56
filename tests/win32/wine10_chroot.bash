# Sourced by the Wine 10 test scripts: the Debian 13 root with Wine 10 that the DirectPlay session
# and the 32-bit programs run in. It lives outside the work tree ($SKYRELAY_WINE10_ROOT) and is made
# once, then reused; the Wine prefix inside it ($wine10_state/prefix) is shared by every run.
wine10_root=${SKYRELAY_WINE10_ROOT:-/var/tmp/skyrelay-wine10}
# The runs' own files, as the programs in the root see them.
wine10_state=/var/lib/skyrelay-wine10

# The 32-bit side: Wine's i386 loader and DLLs, run under qemu-i386 (this kind of machine executes
# no 32-bit code itself; QEMU 10 from Debian 13, as 7.2 breaks Wine's exception handling), and
# the zlib1.dll that Wine's 32-bit user32 loads.
wine10_i386_packages="wine32:i386 libwine:i386 libc6:i386 libgcc-s1:i386 qemu-user libz-mingw-w64"

# The Debian mirror this machine's own package sources use (not a security mirror).
wine10_mirror() {
    local files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
    local f
    for f in "${files[@]}"; do
        [ -f "$f" ] || continue
        sed -nE 's/^(deb(\s+\[[^]]*\])?\s+|URIs:\s*)([a-z]+:\/\/[^ ]+).*/\3/p' "$f"
    done | grep -v -- '-security' | head -n 1
}

# Mounts what Wine and apt need inside the root; wine10_unmount undoes it (also from a trap).
wine10_mount() {
    local d
    for d in proc dev dev/pts dev/shm; do
        mountpoint -q "$wine10_root/$d" || mount --bind "/$d" "$wine10_root/$d"
    done
}
wine10_unmount() {
    local d
    for d in dev/shm dev/pts dev proc; do
        if mountpoint -q "$wine10_root/$d" 2>/dev/null; then umount -l "$wine10_root/$d" || true; fi
    done
}

# Runs apt-get install in the root with these packages.
wine10_apt_install() {
    timeout 900 chroot "$wine10_root" /bin/sh -c \
        'export DEBIAN_FRONTEND=noninteractive; dpkg --add-architecture i386 && apt-get update &&
         apt-get install -y --no-install-recommends "$@" && apt-get clean' sh "$@" \
        >>"$wine10_root.log" 2>&1
}

# The 32-bit loader's path becomes a wrapper that runs it under qemu-i386. Wine starts 32-bit
# processes by running its own argv[0] again, so the wrapper keeps its path as argv[0].
wine10_wrap_i386_loader() {
    chroot "$wine10_root" /bin/sh -c '
        set -e
        dpkg-divert --local --rename --divert /usr/lib/wine/wine.i386 --add /usr/lib/wine/wine
        printf "#!/bin/sh\nexec qemu-i386 -0 /usr/lib/wine/wine /usr/lib/wine/wine.i386 \"\$@\"\n" \
            >/usr/lib/wine/wine
        chmod 755 /usr/lib/wine/wine
        cp /usr/i686-w64-mingw32/lib/zlib1.dll /usr/lib/i386-linux-gnu/wine/i386-windows/' \
        >>"$wine10_root.log" 2>&1
}

# Makes the root when it is missing (debootstrap, then Wine with its 32-bit side in one apt run)
# and adds the 32-bit side to a root made without it. Returns non-zero when this machine cannot
# make the root, or, with the argument i386, its 32-bit side; the reason is on stdout.
wine10_ensure_root() {
    local need=${1:-}
    local ready=0
    [ -f "$wine10_root/.skyrelay-ready" ] && [ -f "$wine10_root/.skyrelay-ready-i386" ] && ready=1
    # The dialog cases compare two readers' output with python3, also inside the root.
    [ "$ready" = 1 ] && [ -x "$wine10_root/usr/bin/python3" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        [ -f "$wine10_root/.skyrelay-ready" ] && [ "$need" != i386 ] && return 0
        echo "needs root to build $wine10_root"
        return 1
    fi
    if [ "$ready" = 1 ]; then
        echo "adding python3 to the Wine 10 root in $wine10_root"
        wine10_mount
        local added=0
        wine10_apt_install python3 || added=1
        wine10_unmount
        [ "$added" = 0 ] && return 0
        echo "installing python3 in the root failed, see $wine10_root.log"
        return 1
    fi
    if [ ! -f "$wine10_root/.skyrelay-ready" ]; then
        if ! command -v debootstrap >/dev/null; then
            timeout 300 apt-get install -y debootstrap >/dev/null 2>&1 ||
                { echo "debootstrap is not installed and cannot be installed"; return 1; }
        fi
        local mirror
        mirror=$(wine10_mirror)
        [ -n "$mirror" ] || { echo "no Debian mirror in the package sources"; return 1; }
        echo "building the Wine 10 root in $wine10_root (from $mirror)"
        wine10_unmount
        rm -rf "$wine10_root"
        mkdir -p "$wine10_root"
        timeout 600 debootstrap --variant=minbase trixie "$wine10_root" "$mirror" >"$wine10_root.log" 2>&1 ||
            { echo "debootstrap failed, see $wine10_root.log"; return 1; }
        cp /etc/resolv.conf "$wine10_root/etc/resolv.conf"
    else
        echo "adding the 32-bit side to the Wine 10 root in $wine10_root"
    fi
    wine10_mount
    local ok=0
    # shellcheck disable=SC2086
    if wine10_apt_install wine wine64 python3 $wine10_i386_packages && wine10_wrap_i386_loader; then
        # A prefix made without the 32-bit side has no syswow64 to speak of: made again.
        rm -rf "${wine10_root:?}$wine10_state/prefix"
        touch "$wine10_root/.skyrelay-ready-i386"
    else
        # The 64-bit side alone still serves the x86_64 programs.
        echo "cannot add Wine's 32-bit side to the root, see $wine10_root.log"
        [ -f "$wine10_root/.skyrelay-ready" ] || wine10_apt_install wine wine64 python3 || ok=1
    fi
    wine10_unmount
    [ "$ok" = 0 ] || { echo "installing Wine in the root failed, see $wine10_root.log"; return 1; }
    touch "$wine10_root/.skyrelay-ready"
    [ -f "$wine10_root/.skyrelay-ready-i386" ] || [ "$need" != i386 ]
}

# Checks that this machine can run the root's programs, takes the root's lock (on descriptor 9,
# held until the caller exits: runs share the prefix, and the first one makes the root) and makes
# or completes the root; with the argument i386, its 32-bit side too. Returns non-zero with the
# reason in wine10_why.
wine10_prepare() {
    wine10_why=""
    if [ "$(id -u)" != 0 ]; then
        wine10_why="needs root for the Wine 10 root and a private network namespace"
        return 1
    fi
    if ! command -v unshare >/dev/null || ! unshare -n -m true 2>/dev/null; then
        wine10_why="cannot create a private network namespace here"
        return 1
    fi
    if ! mkdir -p "$(dirname "$wine10_root")" 2>/dev/null || ! { exec 9>"$wine10_root.lock"; } 2>/dev/null
    then
        wine10_why="cannot write $wine10_root.lock"
        return 1
    fi
    if ! flock -w 900 9; then
        wine10_why="another run has held $wine10_root.lock for 15 minutes"
        return 1
    fi
    local reason
    if ! reason=$(wine10_ensure_root "${1:-}"); then
        wine10_why="cannot build the Wine 10 root: ${reason##*$'\n'}"
        return 1
    fi
    [ -z "$reason" ] || echo "$reason"
}

# Runs a command in the root with the shared prefix. `wine` there is the 64-bit loader, which
# hands a 32-bit program to the 32-bit one (WINELOADER names the 64-bit one, the 32-bit one is
# the same path without "64"); Debian's own `wine` would start everything under the emulator.
wine10_run() {
    chroot "$wine10_root" env -i PATH="$wine10_state/bin:/usr/bin:/bin" HOME=/root \
        WINEARCH=win64 WINEPREFIX="$wine10_state/prefix" WINELOADER=/usr/lib/wine/wine64 \
        WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG="${WINEDEBUG:--all}" "$@"
}
wine10_stop() {
    timeout 20 chroot "$wine10_root" env WINEPREFIX="$wine10_state/prefix" wineserver -k 2>/dev/null ||
        true
}

# Makes the shared prefix (once): with the 32-bit side, syswow64 gets zlib1.dll, which Wine takes
# as a builtin only while the prefix is being made; and the windows get Wine's null display
# driver, so no X server is needed.
wine10_make_prefix() {
    local prefix=$wine10_root$wine10_state/prefix
    mkdir -p "$wine10_root$wine10_state/bin"
    ln -sfn /usr/lib/wine/wine64 "$wine10_root$wine10_state/bin/wine"
    [ -f "$prefix/.skyrelay-made" ] && return 0
    echo "making the Wine 10 prefix"
    rm -rf "$prefix"
    WINEDEBUG=-all wine10_run timeout 300 sh -c 'wine wineboot -i; wineserver -w' >/dev/null 2>&1 ||
        true
    [ -f "$prefix/system.reg" ] || { echo "wineboot made no prefix"; return 1; }
    if [ -f "$wine10_root/.skyrelay-ready-i386" ]; then
        cp "$wine10_root/usr/i686-w64-mingw32/lib/zlib1.dll" "$prefix/drive_c/windows/syswow64/"
    fi
    WINEDEBUG=-all wine10_run timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics \
        /d null /f >/dev/null 2>&1 || { echo "cannot choose the null display driver"; return 1; }
    # The desktop that wineboot started has the display driver it found then.
    wine10_stop
    touch "$prefix/.skyrelay-made"
}

# Runs the command in a private network and mount namespace, for at most SECONDS: loopback up
# and the default route through it (DirectPlay broadcasts its enumeration to 255.255.255.255, and
# nothing may leave the machine), the root's mounts private to the namespace, the prefix made.
# A function given as the command must be exported. Usage: wine10_in_namespace SECONDS COMMAND...
wine10_in_namespace() {
    local seconds=$1
    shift
    export -f wine10_run wine10_stop wine10_make_prefix
    export wine10_root wine10_state
    timeout "$seconds" unshare -n -m --propagation private bash -c '
        set -euo pipefail
        ip link set lo up
        ip route add default dev lo src 127.0.0.1
        mount -t proc proc "$wine10_root/proc"
        mount --bind /dev "$wine10_root/dev"
        mount --bind /dev/pts "$wine10_root/dev/pts"
        mount -t tmpfs tmpfs "$wine10_root/dev/shm"
        wine10_make_prefix
        "$@"' bash "$@"
}

# Sourced by wine10_session.sh: the Debian 13 root with Wine 10 that the DirectPlay checks run in.
# It lives outside the work tree ($SKYRELAY_WINE10_ROOT) and is made once, then reused.
wine10_root=${SKYRELAY_WINE10_ROOT:-/var/tmp/skyrelay-wine10}

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

# Makes the root when it is missing: debootstrap, then Wine. Returns non-zero when this machine
# cannot (no root rights, no debootstrap, no mirror); the reason is on stdout.
wine10_ensure_root() {
    [ -f "$wine10_root/.skyrelay-ready" ] && return 0
    if [ "$(id -u)" != 0 ]; then echo "needs root to build $wine10_root"; return 1; fi
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
    wine10_mount
    local ok=0
    timeout 900 chroot "$wine10_root" /bin/sh -c \
        'export DEBIAN_FRONTEND=noninteractive; apt-get update && apt-get install -y --no-install-recommends wine wine64' \
        >>"$wine10_root.log" 2>&1 || ok=1
    wine10_unmount
    [ "$ok" = 0 ] || { echo "installing Wine in the root failed, see $wine10_root.log"; return 1; }
    touch "$wine10_root/.skyrelay-ready"
}

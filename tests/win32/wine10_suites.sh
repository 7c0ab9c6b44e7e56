#!/usr/bin/env bash
# The i686 build's own suites, run for real: these machines execute no 32-bit code, so they run
# under Wine 10's 32-bit side in the Debian 13 root of wine10_chroot.bash, where Wine's 32-bit
# loader runs under qemu-i386. The core's unit tests, the backend's tests (with skyrelay-sim.exe
# and skyrelay-aifile.exe in their own processes) and the real dialog's cases of dialog_test.sh
# run one after another in one Wine session, in a private network namespace, so that the dialog's
# search for a session stays on loopback. The windows get Wine's null display driver.
#
# Usage: wine10_suites.sh BUILD_DIR [SUITE...]
#   BUILD_DIR is the mingw-i686 preset's build (build/mingw-i686); SUITE is unit, backend or
#   dialog (default: all three, in that order).
# Environment: SKYRELAY_WINE10_ROOT, as for wine10_session.sh.
# Exit status: 0 passed, 1 failed, 77 skipped (the reason on one line).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine10_chroot.bash"

skip() {
    echo "SKIP wine10_suites: $*"
    exit 77
}

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [unit|backend|dialog]..." >&2; exit 2; }
build_bin=$(cd "$1/bin" 2>/dev/null && pwd || echo "$1/bin")
shift
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(unit backend dialog)
for suite in "${suites[@]}"; do
    case $suite in
    unit) programs=(unit_tests.exe) ;;
    backend) programs=(backend_tests.exe skyrelay-sim.exe skyrelay-aifile.exe) ;;
    dialog) programs=(Skyrelay.exe dialog_driver.exe dialog_probe.dll skyrelay-sim.exe) ;;
    *) echo "$0: no such suite: $suite" >&2; exit 2 ;;
    esac
    for program in "${programs[@]}"; do
        [ -f "$build_bin/$program" ] ||
            skip "no $program in $build_bin (build the mingw-i686 preset first)"
    done
done
wine10_prepare i386 || skip "$wine10_why"

# The build inside the root, where Wine sees it, as dialog_test.sh takes one: its programs in
# bin/ and its prefix in wine-prefix, here the root's shared one.
build=$wine10_state/i686
rm -rf "${wine10_root:?}$build"
mkdir -p "$wine10_root$build/bin"
cp "$build_bin"/*.exe "$build_bin"/*.dll "$wine10_root$build/bin/"
cp "$here/dialog_test.sh" "$here/wine_env.bash" "$wine10_root$build/"
# dialog_test.sh finds the readers' comparison beside its own folder, as in the source tree.
mkdir -p "$wine10_root$wine10_state/e2e"
cp "$here/../e2e/readers_agree.py" "$wine10_root$wine10_state/e2e/"
ln -s ../prefix "$wine10_root$build/wine-prefix"

# Runs in the namespace (wine10_in_namespace): one Wine server for all the suites. It does not
# hold the root's lock, should it outlive a run that was killed.
inside() {
    set +e
    wine10_run /usr/lib/wine/wineserver64 -p 9>&-
    local suite started failed=()
    # shellcheck disable=SC2086
    for suite in $suites_list; do
        echo "== $suite"
        started=$SECONDS
        case $suite in
        unit) wine10_run timeout 300 wine "$build/bin/unit_tests.exe" ;;
        backend) wine10_run timeout 300 wine "$build/bin/backend_tests.exe" ;;
        dialog) wine10_run timeout 900 bash "$build/dialog_test.sh" "$build" ;;
        esac
        local status=$?
        echo "== $suite: exit $status after $((SECONDS - started)) s"
        [ "$status" -eq 0 ] || failed+=("$suite")
    done
    wine10_stop
    [ ${#failed[@]} -eq 0 ] || { echo "wine10_suites: failed: ${failed[*]}"; return 1; }
}
export -f inside
# Arrays do not pass to the namespace's shell; the suites' names hold no blanks.
suites_list=${suites[*]}
export build suites_list
status=0
wine10_in_namespace 1500 inside || status=$?
wine10_stop
[ "$status" -eq 0 ] || { echo "wine10_suites: the namespace run ended with $status"; exit 1; }
echo "wine10_suites: passed (${suites[*]}, the i686 build under Wine 10's 32-bit side)"

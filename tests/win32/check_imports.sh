#!/usr/bin/env bash
# Every program of the Windows build imports system DLLs only: KERNEL32, USER32, GDI32, ADVAPI32,
# OLE32, SHELL32, COMCTL32 and the C runtime (msvcrt.dll). The compiler's own runtime (libstdc++,
# libgcc, libwinpthread) is linked in, and DirectPlay is loaded at run time, so the programs start
# on any Windows. The programs named (the ones shipped) must exist, each of its kind: console (CUI)
# or gui; the other programs, the tests, may also use DLLs of ours that lie beside them.
# Usage: check_imports.sh OBJDUMP BIN_DIR [console=PROGRAM.exe | gui=PROGRAM.exe]...
set -euo pipefail
objdump=$1
bin=$2
shift 2
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll shell32.dll comctl32.dll msvcrt.dll "
status=0

for named in "$@"; do
    kind=${named%%=*}
    program=${named#*=}
    subsystem="Windows CUI"
    [ "$kind" = gui ] && subsystem="Windows GUI"
    if [ ! -f "$program" ]; then
        echo "missing: $program"
        status=1
    elif [[ "$("$objdump" -p "$program")" != *$'\nSubsystem'*"($subsystem)"* ]]; then
        echo "$(basename "$program") is not a $kind program"
        status=1
    fi
done

shopt -s nullglob
ours=" "
for dll in "$bin"/*.dll; do
    name=$(basename "$dll")
    ours+="${name,,} "
done
shipped=" ${*#*=} "
programs=("$bin"/*.exe "$bin"/*.dll)
[ ${#programs[@]} -gt 0 ] || { echo "no programs in $bin"; exit 1; }
for program in "${programs[@]}"; do
    accepted=$allowed
    [[ "$shipped" == *" $program "* ]] || accepted+=$ours
    dlls=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
    if [ -z "$dlls" ]; then
        echo "$(basename "$program"): no import table found"
        status=1
        continue
    fi
    for dll in $dlls; do
        case "$accepted" in
        *" ${dll,,} "*) ;;
        *)
            echo "$(basename "$program") imports $dll"
            status=1
            ;;
        esac
    done
    echo "$(basename "$program"):" $dlls
done
exit $status

#!/usr/bin/env bash
# Every program of the Windows build imports system DLLs only: KERNEL32, USER32, GDI32, ADVAPI32,
# OLE32, SHELL32, COMCTL32 and the C runtime (msvcrt.dll). The compiler's own runtime (libstdc++,
# libgcc) is linked in, and DirectPlay is loaded at run time, so the programs start on any Windows.
# The programs named (the ones shipped) must exist, each of its kind: console (CUI) or gui; the
# other programs, the tests, may also use DLLs of ours that lie beside them.
# The shipped programs must also start on Windows XP: every function they import is one that XP
# exports (winxp-exports/: XP SP3 for a 32-bit program, XP x64 for a 64-bit one), and their headers
# ask for no newer Windows than VERSION (5.1 for XP, 5.2 for XP x64), as OS and as subsystem.
# With isa=i686, the shipped programs must also keep to the i686 instruction set that the Pentium
# Pro brought and every later x86 has: no MMX, SSE or AVX register and none of the instructions
# of those extensions that name no such register, anywhere in their code. Each one found is
# printed with its program, function and address; the programs in the build tree still have their
# symbols (only the download's copies are stripped).
# Usage: check_imports.sh OBJDUMP BIN_DIR VERSION [isa=i686]
#            [console=PROGRAM.exe | gui=PROGRAM.exe]...
set -euo pipefail
objdump=$1
bin=$2
version=$3
shift 3
isa=""
if [ "${1:-}" = isa=i686 ]; then
    isa=i686
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
xp_check=$here/winxp-exports/check-imports.sh
allowed=" kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll shell32.dll comctl32.dll msvcrt.dll "
status=0

# The header's MAJOR.MINOR pair named by WHAT ("OSystem" or "Subsystem") as one number, 501 for 5.1.
header_version() {
    local major minor
    major=$(sed -n "s/^Major$2Version[[:space:]]*//p" <<<"$1")
    minor=$(sed -n "s/^Minor$2Version[[:space:]]*//p" <<<"$1")
    echo $((major * 100 + minor))
}
newest=$((${version%.*} * 100 + ${version#*.}))

# Functions of the compiler's runtime that use SSE only after asking the processor (CPUID) whether
# it has it: mingw-w64's fesetround and feclearexcept set the SSE control register (stmxcsr,
# ldmxcsr) beside the x87 one when ___mingw_has_sse says so, and leave it alone otherwise. Any
# other function found here must be read the same way before it joins this list.
cpuid_guarded=" _fesetround _feclearexcept "

# Prints each instruction of PROGRAM (named NAME) beyond the i686 set outside cpuid_guarded, and
# last how many there were in cpuid_guarded (see beyond_i686.awk).
beyond_i686() {
    "$objdump" -d --no-show-raw-insn -w "$1" |
        awk -v name="$2" -v guarded="$cpuid_guarded" -f "$here/beyond_i686.awk"
}

for named in "$@"; do
    kind=${named%%=*}
    program=${named#*=}
    name=$(basename "$program")
    subsystem="Windows CUI"
    [ "$kind" = gui ] && subsystem="Windows GUI"
    if [ ! -f "$program" ]; then
        echo "missing: $program"
        status=1
        continue
    fi
    headers=$("$objdump" -p "$program")
    if [[ "$headers" != *$'\nSubsystem'*"($subsystem)"* ]]; then
        echo "$name is not a $kind program"
        status=1
    fi
    for what in OSystem Subsystem; do
        asked=$(header_version "$headers" $what)
        if [ "$asked" -gt "$newest" ]; then
            echo "$name: ${what/OSystem/OS} version $((asked / 100)).$((asked % 100)), newer than $version"
            status=1
        fi
    done
    # Prints each import that Windows XP lacks, as "PROGRAM: DLL!FUNCTION".
    (cd "$(dirname "$program")" && bash "$xp_check" "$name") || status=1
    if [ "$isa" = i686 ]; then
        found=$(beyond_i686 "$program" "$name")
        behind=${found##*guarded }
        behind_in=${behind#* }
        behind=${behind%% *}
        found=$(sed '$d' <<<"$found")
        if [ -n "$found" ]; then
            lines=$(wc -l <<<"$found")
            echo "$name: $lines instructions beyond i686 (MMX, SSE or AVX):"
            head -n 20 <<<"$found" | sed 's/^/    /'
            [ "$lines" -le 20 ] || echo "    ... and $((lines - 20)) more"
            status=1
        else
            guarded=""
            [ "$behind" = 0 ] ||
                guarded=", but for $behind behind a CPUID check in the runtime (${behind_in// /, })"
            echo "$name: i686 instructions only$guarded"
        fi
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

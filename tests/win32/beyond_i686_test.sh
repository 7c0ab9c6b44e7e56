#!/usr/bin/env bash
# beyond_i686.awk over a disassembly made up of the cases that fool a plain search: registers in
# symbol names and comments, names that merely contain "mm", the MMX register numbers that do not
# exist, instructions of the extensions that name no register, and a function listed as guarded.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tab=$'\t'
input="
00401000 <_xmm0_table>:
  401000:${tab}call   401100 <__mm_malloc>
  401005:${tab}mov    0x42f040,%eax # 42f040 <_ymm1_saved>
  40100a:${tab}(bad)
  40100b:${tab}fmul   %st(1),%st
  40100d:${tab}lock orl $0x0,(%esp)
  401012:${tab}pxor   %xmm0,%xmm0
  401016:${tab}movq   %mm7,(%eax)
  401019:${tab}vmovdqu %ymm15,(%eax)
  40101e:${tab}mfence
  401021:${tab}prefetchnta (%eax)
  401024:${tab}emms

00401100 <_fesetround>:
  401100:${tab}stmxcsr 0xc(%esp)
  401105:${tab}ldmxcsr 0xc(%esp)
"
expected="p.exe: _xmm0_table+0x12: pxor   %xmm0,%xmm0
p.exe: _xmm0_table+0x16: movq   %mm7,(%eax)
p.exe: _xmm0_table+0x19: vmovdqu %ymm15,(%eax)
p.exe: _xmm0_table+0x1e: mfence
p.exe: _xmm0_table+0x21: prefetchnta (%eax)
p.exe: _xmm0_table+0x24: emms
guarded 2 _fesetround"
actual=$(awk -v name=p.exe -v guarded=" _fesetround " -f "$here/beyond_i686.awk" <<<"$input")
if [ "$actual" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
fi
echo "beyond_i686.awk: passed"

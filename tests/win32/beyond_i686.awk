# Reads `objdump -d --no-show-raw-insn -w` of one program and prints each instruction beyond the
# i686 set (any MMX, SSE or AVX register, or an instruction of those extensions that names none)
# as "NAME: FUNCTION+OFFSET: INSTRUCTION", except in the functions listed in `guarded` (" a b "),
# and last "guarded N FUNCTION...", how many there were in those and where. Registers are matched
# whole and in the operands only, not in the symbol names objdump adds in <...> or in its comments;
# an undecodable byte, "(bad)", is none of them.
# Usage: awk -v name=PROGRAM -v guarded=" FUNCTION... " -f beyond_i686.awk
function hex(text,    i, value) {
    value = 0
    for (i = 1; i <= length(text); i++)
        value = value * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
    return value
}
/^[0-9a-f]+ <.*>:$/ { symbol = substr($2, 2, length($2) - 3); start = hex($1); next }
/^ *[0-9a-f]+:\t/ {
    tab = index($0, "\t")
    address = substr($0, 1, tab - 2)
    sub(/^ */, "", address)
    text = substr($0, tab + 1)
    sub(/ *#.*/, "", text)
    gsub(/ *<[^>]*>/, "", text)
    mnemonic = text
    sub(/ .*/, "", mnemonic)
    if (text !~ /%(mm[0-7]|[xyz]mm[0-9]+)([^0-9A-Za-z_]|$)/ &&
        mnemonic !~ /^(emms|femms|ldmxcsr|stmxcsr|[slm]fence|movnti[lq]?|clflush)$/ &&
        mnemonic !~ /^prefetch[a-z0-9]*$/)
        next
    if (index(guarded, " " symbol " ")) {
        if (!(symbol in seen)) { seen[symbol] = 1; which = which " " symbol }
        behind++
        next
    }
    printf "%s: %s+0x%x: %s\n", name, symbol, hex(address) - start, text
}
END { print "guarded " behind + 0 which }

"""Another reader of the shared blocks printed what skyrelay-aifile read of the same blocks: the
lines of read_aifile (or of the Python snippet in docs/shared-blocks.md), "AIFile: state S
recordCount N", "aircraft I: NAME VALUE ..." and "SkyrelayStats: NAME VALUE ...", against
`skyrelay-aifile --json` and, when given, `skyrelay-aifile --stats --json`. Floats are compared as
the block stores them, bit for bit; every counter both print must be equal.
Usage: python3 readers_agree.py READER_OUTPUT AIFILE_JSON [STATS_JSON]"""
import json
import struct
import sys

FIELDS = ["latitude", "longitude", "altitude", "headingDegrees", "groundSpeed", "verticalSpeed"]
# The counters a reader of the counter block must at least print.
COUNTERS = {"processId", "running", "simDetected", "positionMessages", "publications"}


def pairs(words):
    words = words.split()
    return dict(zip(words[0::2], words[1::2]))


def float_bits(text):
    return struct.pack("<f", float(text)).hex()


def compare(lines, aifile, stats):
    problems = []
    lines = [line for line in lines if line.strip()]
    if aifile["warnings"]:
        problems.append(f"skyrelay-aifile warns: {aifile['warnings']}")
    header = pairs(lines[0].removeprefix("AIFile: ")) if lines else {}
    if [header.get("state"), header.get("recordCount")] != [
            str(aifile["state"]), str(aifile["recordCount"])]:
        problems.append(f"header {header}, skyrelay-aifile {aifile['state']} "
                        f"{aifile['recordCount']}")
    # A picture is there only in state 2.
    expected = [[float_bits(record[name]) for name in FIELDS]
                for record in aifile["records"]] if aifile["state"] == 2 else []
    got = []
    for index, line in enumerate(l for l in lines if l.startswith("aircraft ")):
        label, _, rest = line.partition(": ")
        values = pairs(rest)
        if label != f"aircraft {index}" or set(values) != set(FIELDS):
            problems.append(f"aircraft line {line!r}")
            continue
        got.append([float_bits(values[name]) for name in FIELDS])
    if got != expected:
        problems.append(f"aircraft {got}, skyrelay-aifile {expected}")
    if stats is not None:
        found = [l for l in lines if l.startswith("SkyrelayStats: ")]
        counters = pairs(found[0].removeprefix("SkyrelayStats: ")) if found else {}
        if int(counters.get("version", 0)) < 2:
            problems.append(f"counters {found}")
        both = set(counters) & set(stats)
        if not COUNTERS <= both:
            problems.append(f"counters missing: {sorted(COUNTERS - both)}")
        for name in sorted(both):
            if int(counters[name]) != stats[name]:
                problems.append(f"{name} {counters[name]}, skyrelay-aifile {stats[name]}")
    return problems


def main():
    reader = open(sys.argv[1]).read()
    aifile = json.load(open(sys.argv[2]))
    stats = json.load(open(sys.argv[3]))["stats"] if len(sys.argv) > 3 else None
    problems = compare(reader.splitlines(), aifile, stats)
    if problems:
        print(reader, end="")
        sys.exit("the readers disagree: " + "; ".join(problems))


main()

#!/usr/bin/env python3
"""Prints each benchmark's median beside the median of its lower-bound kernel from the same run,
and their ratio against the target. Reads the JSON files Google Benchmark wrote
(--benchmark_out with --benchmark_repetitions)."""
import json
import sys

# The most each path may cost, as a multiple of its kernel, by the benchmark's first name.
TARGETS = {"message": 3.0, "drain": 3.0, "publication": 2.0, "exchange": 1.5, "view-copy": 1.2}


def medians(paths):
    found = {}
    for path in paths:
        with open(path) as file:
            for run in json.load(file)["benchmarks"]:
                if run.get("aggregate_name") != "median" or run.get("error_occurred"):
                    continue
                # Round trips are timed by the wall clock, the rest by the process's CPU time.
                wall = run["run_name"].endswith("/real_time")
                seconds = run["real_time" if wall else "cpu_time"]
                unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run["time_unit"]]
                found[run["run_name"]] = (seconds * unit, "wall" if wall else "cpu",
                                          run["cpu_time"] * unit)
    return found


def kernel_of(name, found):
    """kernel/NAME, or with the variant's part (the second) left out: drain/counters/30 is
    measured against kernel/drain/30."""
    parts = name.split("/")
    for candidate in ("kernel/" + name, "kernel/" + "/".join(parts[:1] + parts[2:])):
        if candidate in found:
            return candidate
    return None


def shown(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return "%.3g %s" % (seconds / scale, unit)
    return "%.3g ns" % (seconds / 1e-9)


def main():
    found = medians(sys.argv[1:])
    print("%-28s %-5s %12s %12s %8s %7s  %s" % ("benchmark (median)", "clock", "path", "kernel",
                                                  "ratio", "target", "per item"))
    for name, (seconds, clock, cpu) in found.items():
        if name.startswith("kernel/"):
            continue
        kernel = kernel_of(name, found)
        first = name.split("/")[0]
        target = TARGETS.get(first)
        items = ""
        last = name.replace("/real_time", "").split("/")[-1]
        if last.isdigit():
            items = "%s a message" % shown(seconds / int(last))
        if kernel is None:
            print("%-28s %-5s %12s" % (name, clock, shown(seconds)))
            continue
        ratio = seconds / found[kernel][0]
        verdict = "" if target is None else ("%.1fx %s" % (target, "met" if ratio <= target
                                                             else "MISSED"))
        print("%-28s %-5s %12s %12s %7.2fx %-11s %s" % (name, clock, shown(seconds),
                                                         shown(found[kernel][0]), ratio, verdict,
                                                         items))
        if clock == "wall":
            # The benchmark's own share of a round trip: its process's CPU time, the other
            # side's left out.
            print("%-28s %-5s %12s %12s %7.2fx" % ("  (this process only)", "cpu", shown(cpu),
                                                   shown(found[kernel][2]),
                                                   cpu / found[kernel][2]))


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# Builds the benchmarks (the bench preset: release, g++) and runs them: each hot path beside its
# lower-bound kernel, every benchmark repeated and the repetitions interleaved at random, so that
# a path and its kernel see the same machine. Prints the medians, the ratios and their targets.
# The exchange benchmark starts a skyrelay-sim of its own and stops it at the end.
# Usage: scripts/bench.sh [REPETITIONS] [Google Benchmark options...]   (default 9 repetitions)
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=9
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
    repetitions="$1"
    shift
fi

scripts/setup.sh
echo "bench: building (bench preset, release)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j 2 --target skyrelay-bench skyrelay-bench-link skyrelay-sim \
    >/dev/null
bin="$PWD/build/bench/bin"

out="$(mktemp -d "${TMPDIR:-/tmp}/skyrelay-bench-out.XXXXXX")"
trap 'rm -rf "$out"' EXIT
for program in skyrelay-bench skyrelay-bench-link; do
    echo "bench: $program, $repetitions repetitions"
    "$bin/$program" --benchmark_repetitions="$repetitions" \
        --benchmark_enable_random_interleaving=true --benchmark_min_time=0.2 \
        --benchmark_report_aggregates_only=true --benchmark_out="$out/$program.json" \
        --benchmark_out_format=json "$@" >"$out/$program.txt" 2>&1 ||
        { cat "$out/$program.txt" >&2; exit 1; }
done
echo
python3 bench/ratios.py "$out"/*.json

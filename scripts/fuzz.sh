#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each over a copy of its seed corpus in fuzz/corpus/<target> for a while. A crash, a leak, a
# sanitizer report or a hang (an input taking over 10 s) fails the run; the input that did it is
# kept in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default: 300 s each, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target "${targets[@]}"

artifacts="$PWD/build/fuzz/artifacts"
mkdir -p "$artifacts"
status=0
for target in "${targets[@]}"; do
    work="$(mktemp -d)"
    cp -r "fuzz/corpus/$target/." "$work/"
    echo "== $target: ${seconds} s"
    if ! "build/fuzz/bin/$target" "$work" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -artifact_prefix="$artifacts/$target-" -print_final_stats=1 \
        >"$work.log" 2>&1; then
        tail -40 "$work.log"
        echo "== $target FAILED: the input is in $artifacts/"
        status=1
    else
        grep -E '^(stat::number_of_executed_units|Done )' "$work.log" || true
    fi
    rm -rf "$work" "$work.log"
done
exit $status

#!/usr/bin/env bash
# The rewriting benchmarks. With VANTEL_BASELINE_BIN (a folder with an earlier build's
# rewrite_benchmark) both builds run in turn, BENCH_ROUNDS times, and the summary gives each
# benchmark's throughput in both and their ratio: measured on the same machine at the same
# time, so a busy machine slows both alike.
# Environment: VANTEL_BIN (build/linux-release), VANTEL_BASELINE_BIN (none), BENCH_REPS (3),
# BENCH_ROUNDS (3).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/stats.sh
bin=${VANTEL_BIN:-build/linux-release}
baseline=${VANTEL_BASELINE_BIN:-}
options=(--benchmark_repetitions="${BENCH_REPS:-3}" --benchmark_report_aggregates_only=true)

if [ -z "$baseline" ]; then
    exec "$bin/rewrite_benchmark" "${options[@]}"
fi
for program in "$bin/rewrite_benchmark" "$baseline/rewrite_benchmark"; do
    if [ ! -x "$program" ]; then
        echo "bench-rewrite: $program is missing" >&2
        exit 1
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for round in $(seq "${BENCH_ROUNDS:-3}"); do
    for side in after before; do
        program=$bin/rewrite_benchmark
        if [ "$side" = before ]; then program=$baseline/rewrite_benchmark; fi
        echo "round $round: $program" >&2
        # The medians' rows: name and bytes per second.
        "$program" "${options[@]}" --benchmark_format=csv 2>/dev/null |
            awk -F, '$1 ~ /_median"$/ {gsub(/"|_median/, "", $1); print $1, $6}' \
                >>"$work/$side"
    done
done

# The median over the rounds of each benchmark, in MiB/s, for both builds and their ratio.
printf '%-24s %14s %14s %8s\n' benchmark "before MiB/s" "after MiB/s" ratio
while read -r name; do
    after=$(median "$(awk -v n="$name" '$1 == n {print $2}' "$work/after")")
    before=$(median "$(awk -v n="$name" '$1 == n {print $2}' "$work/before")")
    printf '%-24s %14.0f %14.0f %8s\n' "$name" "$(awk -v b="$before" 'BEGIN {print b / 1048576}')" \
        "$(awk -v a="$after" 'BEGIN {print a / 1048576}')" "$(ratio "$after" "$before")"
done < <(awk '!seen[$1]++ {print $1}' "$work/after")

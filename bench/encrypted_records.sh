#!/usr/bin/env bash
# Runs encrypted_records_bench and sqlcipher_bench (when built) with
# interleaved repetitions and prints the median of each workload side by
# side (milliseconds). Usage: bench/encrypted_records.sh [build dir] [rounds]
set -euo pipefail
build=${1:-build/release}
rounds=${2:-7}
flags=(--benchmark_repetitions="$rounds" --benchmark_enable_random_interleaving=true
       --benchmark_report_aggregates_only=true --benchmark_format=csv)
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$build/bench/encrypted_records_bench" "${flags[@]}" 2>/dev/null >>"$out"
if [ -x "$build/bench/sqlcipher_bench" ]; then
  "$build/bench/sqlcipher_bench" "${flags[@]}" 2>/dev/null | tail -n +2 >>"$out"
fi
# name,iterations,real_time,... : keep the medians.
awk -F, '$1 ~ /_median"?$/ { gsub(/"/, "", $1); sub(/_median$/, "", $1);
  split($1, p, "/"); printf "%-10s %-12s %10.1f ms  (CPU %8.1f ms)\n", p[1], p[2], $3, $4 }' "$out" | sort

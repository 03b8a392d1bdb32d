#!/usr/bin/env bash
# The engine's 4 KiB read rate beside the raw simulator's, in one run:
#   bench/engine_vs_sim.sh [BUILD_DIR] [COUNT] [ROUNDS]
# Runs both benchmarks at queue depth 64 ROUNDS times, alternating, and
# prints the medians and their ratio (engine / raw).
set -euo pipefail
build=${1:-build}
count=${2:-500000}
rounds=${3:-3}
rate() { "$@" | awk '/queue depth/ { print $4 }'; }
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
raw=() eng=()
for ((i = 0; i < rounds; i++)); do
  raw+=("$(rate "$build/bench/bench_sim_io" --count "$count" --depth 64)")
  eng+=("$(rate "$build/bench/bench_engine_io" --count "$count" --depth 64)")
done
r=$(printf '%s\n' "${raw[@]}" | median)
e=$(printf '%s\n' "${eng[@]}" | median)
echo "raw simulator, depth 64: ${raw[*]} (median $r commands/s)"
echo "kxm_nvme engine, depth 64: ${eng[*]} (median $e commands/s)"
awk -v e="$e" -v r="$r" 'BEGIN { printf "engine / raw = %.2f\n", e / r }'

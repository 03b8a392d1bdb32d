#!/usr/bin/env bash
# 4 KiB random reads from a Korvel script beside the kxm_nvme engine driven
# from C++ (bench_engine_io), in one run:
#   bench/nvme_script_vs_engine.sh [BUILD_DIR] [ROUNDS] [ENGINE_COUNT]
# The script runs the qos loop on one I/O queue: queue depth 32 in poller
# mode, and queue depth 1 in polling mode (the script reaps with pspp). The
# engine benchmark runs at depth 32 and depth 1. Prints the medians of
# ROUNDS alternating runs and the ratios script / engine (target at depth
# 32: at least 0.25).
set -euo pipefail
build=${1:-build}
rounds=${2:-3}
count=${3:-200000}     # commands per engine run at depth 32 (a tenth at depth 1)
here=$(cd "$(dirname "$0")" && pwd)
korvel=$build/interp/korvel
unset KXM_NVME_SIM
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
erate() { "$build/bench/bench_engine_io" --count "$1" --depth "$2" | awk '/queue depth/ { print $4 }'; }
srate() { "$korvel" "$here/nvme_script_io.krv" "$1" | awk '/commands\/s/ { print $(NF - 1) }'; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"              # the module's log lands here
e32=() s32=() e1=() s1=()
for ((i = 0; i < rounds; i++)); do
  e32+=("$(erate "$count" 32)")
  s32+=("$(srate poller)")
  e1+=("$(erate "$((count / 10))" 1)")
  s1+=("$(srate polling)")
done
me32=$(printf '%s\n' "${e32[@]}" | median)
ms32=$(printf '%s\n' "${s32[@]}" | median)
me1=$(printf '%s\n' "${e1[@]}" | median)
ms1=$(printf '%s\n' "${s1[@]}" | median)
echo "engine, depth 32 (poller):  ${e32[*]} (median $me32 commands/s)"
echo "script, depth 32 (poller):  ${s32[*]} (median $ms32 commands/s)"
echo "engine, depth 1 (poller):   ${e1[*]} (median $me1 commands/s)"
echo "script, depth 1 (polling):  ${s1[*]} (median $ms1 commands/s)"
awk -v s="$ms32" -v e="$me32" 'BEGIN { printf "script / engine at depth 32 = %.2f (target >= 0.25)\n", s / e }'
awk -v s="$ms1" -v e="$me1" 'BEGIN { printf "script / engine at depth 1  = %.2f\n", s / e }'

#!/usr/bin/env bash
# Runs every micro-benchmark of this folder with korvel, lua5.4 and python3,
# checks that the three print the same result, and prints the CPU times
# (best of N runs), the ratios korvel/lua and korvel/python and their
# geometric means.
# Usage: bench/lang/run.sh [KORVEL] [N]   (KORVEL defaults to build/interp/korvel)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
korvel=${1:-$here/../../build/interp/korvel}
runs=${2:-3}
lua=$(command -v lua5.4 || true)
py=/usr/bin/python3
[ -x "$py" ] || py=$(command -v python3 || true)
if [ ! -x "$korvel" ] || [ -z "$lua" ] || [ -z "$py" ]; then
  echo "need korvel ($korvel), lua5.4 and python3" >&2
  exit 2
fi

# CPU seconds (user + system) of the best of $runs runs: the best run is
# the one least disturbed by other work. The output of the last run goes
# to $out.
best() {
  local out=$1; shift
  local b="" t
  for _ in $(seq "$runs"); do
    t=$( { /usr/bin/time -f "%U %S" "$@" > "$out"; } 2>&1 | tail -1 | awk '{printf "%.2f", $1 + $2}')
    if [ -z "$b" ] || awk -v a="$t" -v b="$b" 'BEGIN{exit !(a < b)}'; then b=$t; fi
  done
  echo "$b"
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf "%-10s %8s %8s %8s %10s %10s\n" bench korvel lua python korvel/lua korvel/py
status=0
ratios_l=""
ratios_p=""
for k in "$here"/*.krv; do
  name=$(basename "$k" .krv)
  tk=$(best "$tmp/k" "$korvel" "$k")
  tl=$(best "$tmp/l" "$lua" "$here/$name.lua")
  tp=$(best "$tmp/p" "$py" "$here/$name.py")
  if ! cmp -s "$tmp/k" "$tmp/l" || ! cmp -s "$tmp/k" "$tmp/p"; then
    echo "$name: the three programs disagree" >&2
    status=1
  fi
  rl=$(awk -v a="$tk" -v b="$tl" 'BEGIN{printf "%.2f", a / (b > 0 ? b : 0.001)}')
  rp=$(awk -v a="$tk" -v b="$tp" 'BEGIN{printf "%.2f", a / (b > 0 ? b : 0.001)}')
  ratios_l="$ratios_l $rl"
  ratios_p="$ratios_p $rp"
  printf "%-10s %8s %8s %8s %10s %10s\n" "$name" "$tk" "$tl" "$tp" "$rl" "$rp"
done
geo() { echo "$@" | awk '{s = 0; for (i = 1; i <= NF; i++) s += log($i); printf "%.2f", exp(s / NF)}'; }
printf "%-10s %8s %8s %8s %10s %10s\n" geomean "" "" "" "$(geo $ratios_l)" "$(geo $ratios_p)"
exit $status

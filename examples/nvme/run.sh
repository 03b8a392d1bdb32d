#!/usr/bin/env bash
# Runs one example on the simulator (or on the platform KXM_NVME_PLATFORM
# names) and turns its PASS/FAIL summary into this script's exit status:
# korvel itself exits 0 whatever a script did.
#
#   examples/nvme/run.sh [-k KORVEL] [-o OUTDIR] NAME [ARGUMENTS...]
#
# NAME.json beside the example, when there is one and KXM_NVME_SIM is not
# set, describes the simulated devices. For an example that prints a latency
# histogram (qos), the histogram goes to OUTDIR/NAME-histogram.csv (time_us,
# count, cumulative_percent) and, when gnuplot is installed, to
# OUTDIR/NAME-histogram.png through tools/plot-latency. OUTDIR defaults to the
# current folder. The module's log (kxm_nvme.log) goes to OUTDIR too.
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
korvel=$top/build/interp/korvel
outdir=.
while getopts "k:o:" o; do
  case $o in
    k) korvel=$OPTARG ;;
    o) outdir=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] || { sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
name=$1; shift
script=$here/$name.krv
[ -r "$script" ] || { echo "run.sh: no example $script" >&2; exit 2; }
korvel=$(cd "$(dirname "$korvel")" && pwd)/$(basename "$korvel")
mkdir -p "$outdir"
outdir=$(cd "$outdir" && pwd)
if [ -z "${KXM_NVME_SIM:-}" ] && [ -r "$here/$name.json" ]; then
  export KXM_NVME_SIM=$here/$name.json
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# The histogram rows are long; keep them out of the console and in the CSV.
(cd "$outdir" && "$korvel" "$script" "$@") | tee "$log" |
  awk '/^--- histogram begin ---$/ { skip = 1; print "    (full histogram: see the CSV file)"; next }
       /^--- histogram end ---$/ { skip = 0; next } !skip'
if grep -q '^--- histogram begin ---$' "$log"; then
  csv=$outdir/$name-histogram.csv
  awk -F',' 'BEGIN { print "time_us,count,cumulative_percent" }
    /^--- histogram begin ---$/ { on = 1; next } /^--- histogram end ---$/ { on = 0 }
    on && NF >= 5 && $1 ~ /^ *[0-9]+ *$/ { gsub(/ /, ""); print $1 "," $2 "," $5 }' "$log" > "$csv"
  echo "histogram: $csv"
  if command -v gnuplot >/dev/null 2>&1; then
    "$top/tools/plot-latency" "$csv" "$outdir/$name-histogram.png" "$name: 4 KiB random reads" || true
  else
    echo "histogram plot skipped: gnuplot is not installed (apt-get install gnuplot-nox)"
  fi
fi
if grep -q "^$name: PASS" "$log"; then exit 0; fi
exit 1

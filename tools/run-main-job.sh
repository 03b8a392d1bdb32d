#!/usr/bin/env bash
# The main job: what `make run` shows a newcomer. The language tour, then a
# short NVMe test campaign on the simulated controller: the smoke example
# (bring-up, identify, namespaces in four LBA formats, PRP and SGL data,
# SMART) and the qos example (random 4 KiB reads at queue depth 32 from
# several tasks, IOPS, the QoS latency table, the histogram as CSV and, when
# gnuplot is installed, as a plot). Output files land in OUTDIR
# (default build/run-main-job).
#   tools/run-main-job.sh [BUILD_DIR] [QOS_SECONDS]
set -eu
build=${1:-build}
seconds=${2:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
korvel=$(cd "$build/interp" && pwd)/korvel
out=${OUTDIR:-$(cd "$build" && pwd)/run-main-job}
mkdir -p "$out"

echo "==== korvel --version"
"$korvel" --version
echo
echo "==== the language tour: korvel examples/tour.krv first second"
"$korvel" "$here/examples/tour.krv" first second
rc=0
summaries=()
for ex in "smoke" "qos $seconds"; do
  set -- $ex
  echo
  echo "==== NVMe example $1 (examples/nvme/$1.krv) on the simulator"
  set +e
  "$here/examples/nvme/run.sh" -k "$korvel" -o "$out" "$@" | tee "$out/$1.txt"
  status=${PIPESTATUS[0]}
  set -e
  line=$(grep -h "^$1: \(PASS\|FAIL\)" "$out/$1.txt" || true)
  summaries+=("${line:-$1: FAIL (no summary)}")
  [ "$status" -eq 0 ] || rc=1
done
echo
echo "==== summary"
printf '  %s\n' "${summaries[@]}"
echo "  output in $out: smoke.txt, qos.txt, qos-histogram.csv$([ -f "$out/qos-histogram.png" ] && echo ", qos-histogram.png"), kxm_nvme.log"
exit $rc

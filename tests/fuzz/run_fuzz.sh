#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them for a bounded time in all
# (default 60 s): the scanner/parser/#if-condition target for two thirds of
# it on a corpus seeded with the script tests, the module file check for the
# rest on a corpus seeded with shared objects of the system, whole and cut.
# Exit status: 0 when no crash, leak or sanitizer report was found.
#   tests/fuzz/run_fuzz.sh [SECONDS] [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
secs=${1:-60}
build=${2:-$here/../../build-fuzz}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "run_fuzz.sh: clang++ not found; fuzzing skipped"
  exit 0
fi
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build" --target krv_fuzz_parse krv_fuzz_module -j "$(nproc)"
parse_secs=$(( secs * 2 / 3 ))
[ "$parse_secs" -ge 1 ] || parse_secs=1
module_secs=$(( secs - parse_secs ))
[ "$module_secs" -ge 1 ] || module_secs=1

corpus="$build/corpus"
mkdir -p "$corpus"
find "$here/../scripts" -type f -name '*.krv' -size -64k -exec cp {} "$corpus/" \; 2>/dev/null || true
printf 'main() { }\n' > "$corpus/seed_min.krv"

cd "$build"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ./krv_fuzz_parse -max_total_time="$parse_secs" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -dict="$here/korvel.dict" -print_final_stats=1 "$corpus"

mcorpus="$build/module-corpus"
mkdir -p "$mcorpus"
n=0
for lib in /lib/x86_64-linux-gnu/*.so* /usr/lib/x86_64-linux-gnu/*.so* /lib64/*.so*; do
  [ -f "$lib" ] || continue
  size=$(stat -c %s "$lib")
  [ "$size" -le 65536 ] || continue
  cp "$lib" "$mcorpus/whole$n"
  head -c $(( size / 2 )) "$lib" > "$mcorpus/half$n"
  n=$((n + 1))
  [ "$n" -lt 8 ] || break
done
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ./krv_fuzz_module -max_total_time="$module_secs" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 "$mcorpus"

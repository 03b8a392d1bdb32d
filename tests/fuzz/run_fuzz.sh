#!/usr/bin/env bash
# Builds the scanner/parser fuzz target with clang and runs it for a bounded
# time (default 60 s) on a corpus seeded with the front end's script tests.
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
cmake --build "$build" --target krv_fuzz_parse -j "$(nproc)"

corpus="$build/corpus"
mkdir -p "$corpus"
find "$here/../scripts" -name '*.krv' -size -64k -exec cp {} "$corpus/" \; 2>/dev/null || true
printf 'main() { }\n' > "$corpus/seed_min.krv"

cd "$build"
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ./krv_fuzz_parse -max_total_time="$secs" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -dict="$here/korvel.dict" -print_final_stats=1 "$corpus"

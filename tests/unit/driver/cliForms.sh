#!/usr/bin/env bash
# Command-line forms whose output names absolute paths or test libraries:
# korvel FILE on a missing script (relative and absolute), and the module
# query through the command line. Usage: cliForms.sh KORVEL QMOD_DIR
set -u
korvel=$1
qmod=$2
fail=0

expect() { # name, expected rc, expected output, command...
  local name=$1 want_rc=$2 want_out=$3
  shift 3
  local out rc
  out=$("$@" 2>&1)
  rc=$?
  if [ "$out" != "$want_out" ] || [ "$rc" != "$want_rc" ]; then
    echo "FAIL: $name: rc $rc (want $want_rc)"
    echo "--- got:"; echo "$out"
    echo "--- want:"; echo "$want_out"
    fail=1
  fi
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/sub"

expect "absolute missing script" 0 'Error Fail to open "/nonexistent-korvel-dir/x.krv"' \
  "$korvel" /nonexistent-korvel-dir/x.krv a b
expect "relative missing script" 0 "Error Fail to open \"$tmp/sub/x.krv\"" \
  bash -c "cd '$tmp' && '$korvel' sub/./x.krv"
expect "relative missing script with backslashes" 0 "Error Fail to open \"$tmp/x.krv\"" \
  bash -c "cd '$tmp/sub' && '$korvel' '..\\x.krv'"
expect "module query" 0 $'qtest 3.4.5\nBased on Korvel 1.2.0-rc1.\nbuilt for the query test' \
  "$korvel" --check "$qmod/kxm_qtest.kxm" ignored args
expect "module query, relative path" 0 $'qtest 3.4.5\nBased on Korvel 1.2.0-rc1.\nbuilt for the query test' \
  bash -c "cd '$qmod' && '$korvel' --check ./q.mod.kxm"
expect "module query without exports" 0 '' "$korvel" --check "$qmod/kxm_bare.kxm"
expect "module query, not a library" 1 '' "$korvel" --check "$0.kxm"
cp "$0" "$tmp/notalib.kxm"
expect "module query, file is no library" 1 '' "$korvel" --check "$tmp/notalib.kxm"
exit $fail

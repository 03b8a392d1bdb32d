#!/usr/bin/env bash
# Runs `korvel --check` on a script group in plain text and again on the
# same group encrypted by krvenc (only the .enc files present), and checks
# that both runs print the same diagnostics with the right files and lines.
# Usage: korvelEncRoundTrip.sh KRVENC KORVEL SOURCE_DIR
set -u
krvenc=$1
korvel=$2
src=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/plain" "$work/enc"
cp "$src/rt_main.krv" "$src/rt_lib.krv" "$work/plain/"
cp "$src/rt_main.krv" "$src/rt_lib.krv" "$work/enc/"
(cd "$work/enc" && "$krvenc" rt_main.krv && "$krvenc" rt_lib.krv && rm rt_main.krv rt_lib.krv) || {
  echo "FAIL: krvenc failed"; exit 1; }

(cd "$work/plain" && timeout 60 "$korvel" --check rt_main.krv) > "$work/plain.out" 2>&1
(cd "$work/enc" && timeout 60 "$korvel" --check rt_main.krv) > "$work/enc.out" 2>&1

status=0
if ! diff -u "$work/plain.out" "$work/enc.out"; then
  echo "FAIL: the encrypted group reads differently"
  status=1
fi
for want in 'Error P150: rt_lib.krv line 3: unknown preprocessor directive "#warnme"' \
            'Error P150: rt_main.krv line 7: unknown preprocessor directive "#bogus"'; do
  if ! grep -qxF "$want" "$work/enc.out"; then
    echo "FAIL: missing from the encrypted run: $want"
    status=1
  fi
done
[ $status -ne 0 ] && { echo "--- encrypted run:"; cat "$work/enc.out"; }
exit $status

#!/usr/bin/env bash
# Runs one script test: korvel NAME.krv [args] in the script's folder and
# compares its standard output with NAME.out and its exit code with NAME.exit
# (0 when absent). NAME.args holds the arguments on one line; its first word
# may be --check (or another option) to run another form of the command.
# NAME.sed, when present, is a sed -E script applied to the output before the
# comparison (for times and other text that differs from run to run).
set -u
korvel=$1
script=$2
dir=$(dirname "$script")
name=$(basename "$script" .krv)
cd "$dir" || exit 2

args=()
if [ -f "$name.args" ]; then
  read -r -a args < "$name.args"
fi
want_rc=0
[ -f "$name.exit" ] && want_rc=$(tr -d ' \n' < "$name.exit")

if [ ${#args[@]} -gt 0 ] && [ "${args[0]}" = "@NONE@" ]; then
  cmd=()   # korvel with no arguments at all
elif [ ${#args[@]} -gt 0 ] && [ "${args[0]#-}" != "${args[0]}" ]; then
  # An option first: the arguments are the whole command line, the script
  # name is spelled out where it is wanted (as @SCRIPT@).
  cmd=()
  for a in "${args[@]}"; do cmd+=("${a//@SCRIPT@/$name.krv}"); done
else
  cmd=("$name.krv" "${args[@]}")
fi

out=$(mktemp)
trap 'rm -f "$out" "$out.err"' EXIT
timeout 100 "$korvel" "${cmd[@]}" > "$out" 2> "$out.err" < /dev/null
rc=$?
if [ -f "$name.sed" ]; then
  sed -E -f "$name.sed" "$out" > "$out.sed" && mv "$out.sed" "$out"
fi
status=0
if ! diff -u "$name.out" "$out"; then
  echo "FAIL: standard output differs for $script"
  status=1
fi
if [ "$rc" != "$want_rc" ]; then
  echo "FAIL: exit code $rc, expected $want_rc for $script"
  status=1
fi
if [ -s "$out.err" ]; then
  echo "--- standard error:"
  cat "$out.err"
fi
exit $status

#!/usr/bin/env bash
# Every script function the NVMe module registers has an entry in the
# reference of docs/nvme.md: a table row that starts with the qualified name
# in backticks, e.g. "| `nvme::ioc::read` |". The names are read from the
# registration tables of the module's sources; a table that yields no name
# fails the test too (its layout changed and this script must follow).
# The tutorial's scripts are script tests (tests/scripts/guide/NAME.krv);
# the guide shows each of them verbatim in the code block after the line
# "<!-- tests/scripts/guide/NAME.krv -->", so what the guide shows is what runs.
# With the korvel program as second argument, the example lines of the
# reference (the last cell of each row, in backticks) are put into one script
# and checked by korvel --check: each must be a Korvel statement that calls
# the function with arguments the module accepts.
set -u
src=${1:?usage: nvme_guide_reference.sh SOURCE_DIR [KORVEL]}
korvel=${2:-}
[ -n "$korvel" ] && korvel=$(realpath "$korvel")
reg=$src/modules/nvme/frame/nvmeRegister.cpp
ddb=$src/modules/nvme/frame/nvmeDdbFuncs.cpp
guide=$src/docs/nvme.md
status=0

# The names of the rows {"name", ...} of one table: from the line that
# declares it (NAME[] = {) to the line that closes it (};).
names_of() {   # file table
  awk -v t="$2" '
    index($0, t "[] = {") { inside = 1; next }
    inside && /^};/ { exit }
    inside {
      line = $0
      sub(/\/\/.*/, "", line)
      while (match(line, /\{"[A-Za-z_][A-Za-z0-9_]*",/)) {
        print substr(line, RSTART + 2, RLENGTH - 4)
        line = substr(line, RSTART + RLENGTH)
      }
    }' "$1"
}

for f in "$reg" "$ddb" "$guide"; do
  if [ ! -f "$f" ]; then echo "FAIL: $f is missing"; exit 1; fi
done

missing=()
total=0
for spec in "$reg:kNvmeFuncsHead:nvme::" "$ddb:g_nvmeDdbFuncs:nvme::" "$reg:kNvmeFuncsTail:nvme::" \
            "$reg:kAdmcFuncs:nvme::admc::" "$reg:kIocFuncs:nvme::ioc::"; do
  file=${spec%%:*}; rest=${spec#*:}
  table=${rest%%:*}; prefix=${rest#*:}
  names=$(names_of "$file" "$table")
  if [ -z "$names" ]; then
    echo "FAIL: no function names found in table $table of $file"
    status=1
    continue
  fi
  for n in $names; do
    total=$((total + 1))
    q="$prefix$n"
    if ! grep -qF "| \`$q\` |" "$guide"; then
      missing+=("$q")
    fi
  done
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "FAIL: ${#missing[@]} registered function(s) without an entry in docs/nvme.md:"
  printf '  %s\n' "${missing[@]}"
  status=1
fi
# The tutorial's scripts, block by block.
for k in "$src"/tests/scripts/guide/*.krv; do
  rel=tests/scripts/guide/$(basename "$k")
  shown=$(awk -v m="<!-- $rel -->" '
    $0 == m { want = 1; next }
    want == 1 && /^```/ { want = 2; next }
    want == 2 && /^```/ { exit }
    want == 2 { print }' "$guide")
  if [ -z "$shown" ]; then
    echo "FAIL: docs/nvme.md does not show $rel (no block after <!-- $rel -->)"
    status=1
  elif [ "$shown" != "$(cat "$k")" ]; then
    echo "FAIL: the block of docs/nvme.md differs from $rel:"
    diff <(printf '%s\n' "$shown") "$k"
    status=1
  fi
done

# The example lines, checked as one script.
if [ -n "$korvel" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  {
    echo '#load <kxm_nvme.kxm>'
    echo 'main()'
    echo '{'
    echo '    var err, c, b, wb, rb, sq, cmd, ns, e, n, m, w, us, dw[4], cdw[16], pct[3], lat[3], ids[8], id, q, a, aer;'
    echo '    var sn, vid, nn, nsze, csts, t, addr;'
    echo '    struct nvme::queueInitParams_t qp;'
    echo '    struct nvme::kvKey_t key;'
    echo '    struct nvme::dirSendParams_t ds;'
    echo '    struct nvme::dirRecvParams_t dr;'
    echo '    struct nvme::passThruParams_t pt;'
    grep -E '^\| `nvme::[A-Za-z0-9_:]+` \|.*\| `[^`]*` \|$' "$guide" | sed -E 's/.*\| `(.*)` \|$/\1/; s/\\\|/|/g; s/\.\.\./{ }/' |
      sed -E 's/^/    /; /[;}]$/!s/$/;/'
    echo '}'
  } > "$tmp/examples.krv"
  out=$(cd "$tmp" && "$korvel" --check examples.krv 2>&1)
  if [ "$out" != "Check pass!" ]; then
    echo "FAIL: example lines of the reference do not pass korvel --check:"
    echo "$out"
    echo "--- the script checked:"
    cat -n "$tmp/examples.krv"
    status=1
  fi
fi

[ $status -eq 0 ] && echo "all $total registered functions have an entry in docs/nvme.md"
exit $status

#!/usr/bin/env bash
# Installs the Debian packages that building and testing Korvel need, when
# they are missing. Safe to run again; does nothing when all are present.
# Extra package names on the command line are installed too, without their
# recommendations (make test adds the QEMU that the qemu test boots, make run
# gnuplot-nox for the latency plot; both are optional).
set -eu
pkgs=(build-essential cmake bison libgtest-dev libgmock-dev libbenchmark-dev
      libssl-dev nlohmann-json3-dev libnvme-dev libisal-dev clang libclang-rt-14-dev
      lua5.4 python3)
missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
extra=()
for p in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    extra+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ] || [ ${#extra[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]} ${extra[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
  fi
  if [ ${#extra[@]} -gt 0 ]; then
    # Optional for the build: a failure here only means the qemu test skips.
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${extra[@]}" ||
      echo "install-deps: could not install ${extra[*]}; what needs them (the qemu test, the latency plot) is skipped"
  fi
fi

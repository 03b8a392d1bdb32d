#!/usr/bin/env bash
# Installs the Debian packages that building and testing Korvel need, when
# they are missing. Safe to run again; does nothing when all are present.
set -eu
pkgs=(build-essential cmake bison libgtest-dev libgmock-dev libbenchmark-dev
      libssl-dev nlohmann-json3-dev libnvme-dev clang libclang-rt-14-dev
      lua5.4 python3)
missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

#!/usr/bin/env bash
# Installs what building and testing the project needs on Debian 12, skipping
# what is already there. Needs root for apt-get when something is missing.
set -euo pipefail
pkgs=(cmake g++ clang libclang-rt-14-dev make libgtest-dev libbenchmark-dev
      ncompress gzip tar sed procps util-linux mount coreutils findutils tmux)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then echo "deps.sh: run as root to install ${missing[*]}" >&2; exit 1; fi
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

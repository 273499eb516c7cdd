#!/usr/bin/env bash
# Installs what building and testing the project needs on Debian 12, skipping
# what is already there, with apt's progress shown. Needs root for apt-get
# when something is missing.
#
# usage: tools/deps.sh [--setup-only]
#   --setup-only   only what building and trying the installer needs (no
#                  test, benchmark, fuzzing or packaging tools)
set -euo pipefail
usage() { sed -n '6,8p' "$0" | sed 's/^# \{0,1\}//'; }
# What building setup and running it in the sandbox needs.
pkgs=(cmake g++ make ncompress gzip tar sed procps util-linux mount coreutils findutils)
case ${1:-} in
  "") pkgs+=(clang libclang-rt-14-dev libgtest-dev libbenchmark-dev mandoc pkg-config dpkg-dev tmux) ;;
  --setup-only) ;;
  -h|--help) usage; exit 0 ;;
  *) echo "deps.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
esac
(($# <= 1)) || { usage >&2; exit 2; }
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "deps.sh: installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then echo "deps.sh: run as root to install ${missing[*]}" >&2; exit 1; fi
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

#!/usr/bin/env bash
# Builds the project and runs every test: the unit tests and the installer's
# end-to-end runs in the sandbox. With --asan, builds and runs the unit
# tests under AddressSanitizer and UndefinedBehaviorSanitizer instead.
#
# usage: tools/test.sh [--asan]
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: tools/test.sh [--asan]"; }
preset=default
case ${1:-} in
  "") ;;
  --asan) preset=asan ;;
  -h|--help) usage; exit 0 ;;
  *) echo "test.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
esac
(($# <= 1)) || { usage >&2; exit 2; }
tools/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

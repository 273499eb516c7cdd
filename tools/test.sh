#!/usr/bin/env bash
# Builds the project and runs every test: the unit tests and the installer's
# end-to-end runs in the sandbox. With --asan, builds and runs the unit
# tests under AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
[ "${1:-}" = "--asan" ] && preset=asan
tools/deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"

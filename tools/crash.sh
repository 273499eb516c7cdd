#!/usr/bin/env bash
# Runs the record-file crash test at full scale: KILLS (default 1000)
# SIGKILLs of two writers at once, and prints its count line: kills, damaged
# files, lost confirmed changes. Status 1 when the test failed.
#
# usage: tools/crash.sh [KILLS]
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: tools/crash.sh [KILLS]"; }
kills=${1:-1000}
case $kills in
  -h|--help) usage; exit 0 ;;
  *[!0-9]*|"") usage >&2; exit 2 ;;
esac
cmake --preset default >/dev/null
cmake --build build/default -j2 --target test_dbm_crash >/dev/null
status=0
out=$(TARNU_CRASH_KILLS=$kills build/default/tests/test_dbm_crash 2>&1) || status=$?
grep '^crash:' <<<"$out" || { echo "$out"; echo "crash.sh: the test printed no count"; exit 1; }
((status == 0)) || { grep -E 'Failure|error|expected|Which is' <<<"$out" | head -20; exit 1; }

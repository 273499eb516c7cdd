#!/usr/bin/env bash
# Runs the installer's kill test at full scale: KILLS (default 200) runs of
# setup killed at random moments in the sandbox, each followed by a run that
# must complete the installation as an uninterrupted one does. Prints the
# count line: kills, kills that met a running setup, failed second runs.
# Status 1 when the test failed. Needs root (the sandbox).
#
# usage: tools/kills.sh [KILLS]
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: tools/kills.sh [KILLS]"; }
kills=${1:-200}
case $kills in
  -h|--help) usage; exit 0 ;;
  *[!0-9]*|"") usage >&2; exit 2 ;;
esac
cmake --preset default >/dev/null
cmake --build build/default -j2 --target setup test_e2e_faults >/dev/null
status=0
out=$(TARNU_E2E_KILLS=$kills build/default/tests/e2e/test_e2e_faults \
        --gtest_filter='*KilledRuns*' 2>&1) || status=$?
grep '^kills:' <<<"$out" || { echo "$out"; echo "kills.sh: the test printed no count"; exit 1; }
((status == 0)) || { grep -E 'killed at|SEED|Failure' <<<"$out" | head -40; exit 1; }

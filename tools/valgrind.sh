#!/usr/bin/env bash
# Runs every unit-test program under valgrind's memcheck, built by the
# valgrind preset (the block manager's free and unused bytes marked
# inaccessible to valgrind). Prints one line per program: memcheck's error
# count and the test result; status 1 when any program has an error or
# fails. With a NAME pattern, only the matching programs run. The tests'
# deliberate probes of unmapped memory are suppressed by tools/valgrind.supp.
#
# usage: tools/valgrind.sh [NAME-PATTERN]
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: tools/valgrind.sh [NAME-PATTERN]"; }
pattern=${1:-}
case $pattern in
  -h|--help) usage; exit 0 ;;
  -*) echo "valgrind.sh: unknown option $pattern" >&2; usage >&2; exit 2 ;;
esac
(($# <= 1)) || { usage >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 2; }
programs=()
for src in tests/unit/*.cpp; do
  name=test_$(basename "$src" .cpp)
  [[ -z $pattern || $name == *$pattern* ]] && programs+=("$name")
done
cmake --preset valgrind >/dev/null
cmake --build build/valgrind -j2 --target "${programs[@]}" >/dev/null

supp=$PWD/tools/valgrind.supp
logs=$(mktemp -d /tmp/tarnu-valgrind-XXXXXX)
bad=0
for p in "${programs[@]}"; do
  status=0
  # The tests find their fixtures relative to the source tree, as under ctest.
  (cd build/valgrind/tests && valgrind --tool=memcheck --error-exitcode=99 --leak-check=no \
      --suppressions="$supp" --track-origins=yes --log-file="$logs/$p.%p" "./$p" \
      >"$logs/$p.out" 2>&1) || status=$?
  errors=$(cat "$logs/$p".[0-9]* 2>/dev/null | sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' |
           awk '{s += $1} END {print s + 0}')
  result=passed
  ((status == 0)) || result="failed ($status)"
  ((status == 0 && errors == 0)) || bad=1
  printf '%-28s %6s errors  %s\n' "$p" "$errors" "$result"
done
echo "valgrind logs: $logs"
exit $bad

#!/usr/bin/env bash
# Builds the coverage preset (g++ --coverage), runs the unit tests and
# reports the line and branch coverage of lib/ and setup/ with gcovr: a
# summary per file and the totals. The report is also written as HTML to
# build/coverage/coverage.html.
#
# usage: tools/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: tools/coverage.sh"; }
case ${1:-} in
  "") ;;
  -h|--help) usage; exit 0 ;;
  *) echo "coverage.sh: unknown argument $1" >&2; usage >&2; exit 2 ;;
esac
command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is not installed (apt-get install gcovr)" >&2; exit 2; }
cmake --preset coverage >/dev/null
cmake --build --preset coverage >/dev/null
find build/coverage -name '*.gcda' -delete
(cd build/coverage && ctest -L unit -j2 --timeout 900 >ctest.log 2>&1) ||
  echo "coverage.sh: some unit tests failed, see build/coverage/ctest.log"
gcovr --root . --object-directory build/coverage --filter 'lib/' --filter 'setup/' \
  --exclude-unreachable-branches --exclude-throw-branches --gcov-ignore-parse-errors \
  --txt - --html build/coverage/coverage.html --print-summary

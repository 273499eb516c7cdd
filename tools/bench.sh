#!/usr/bin/env bash
# Builds the benchmarks (default preset, RelWithDebInfo) and prints one line
# per ratio: ours against its alternative, medians of interleaved repetitions
# in one process, with the goal and whether it is met. Compare ratios, not
# times: the machine may be busy.
#
# A ratio is one line of RATIOS: label|program|our benchmark|alternative|goal|kind
#   kind "time":  our median time / the alternative's, met when <= goal
#   kind "speed": the alternative's median time / ours, met when >= goal
# Benchmark names are exact Google Benchmark names (see <program> --benchmark_list_tests).
# The last two lines are the installer in the sandbox against the floor done
# by the installer's own commands and against its floor
# (tools/install-bench.sh, about a minute); --no-install leaves them out.
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { echo "usage: tools/bench.sh [--no-install]"; }
install=1
case ${1:-} in
  "") ;;
  --no-install) install=0 ;;
  -h|--help) usage; exit 0 ;;
  *) echo "bench.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
esac
(($# <= 1)) || { usage >&2; exit 2; }

REPS=${BENCH_REPS:-7}
RATIOS=(
  "GetMem/PutMem 1M mixed, 10K live|memmgr_bench|Mixed1M<BlockManager>/10000/iterations:2|Mixed1M<Libc>/10000/iterations:2|2|time"
  "GetMem/PutMem 1M mixed, 100K live|memmgr_bench|Mixed1M<BlockManager>/100000/iterations:2|Mixed1M<Libc>/100000/iterations:2|2|time"
  "memmgr_bench SmallPairs|memmgr_bench|SmallPairs<BlockManager>|SmallPairs<Libc>|2|time"
  "memmgr_bench SmallBatch|memmgr_bench|SmallBatch<BlockManager>|SmallBatch<Libc>|2|time"
  "memmgr_bench MixedSizes|memmgr_bench|MixedSizes<BlockManager>|MixedSizes<Libc>|2|time"
  "SaveStr_ of a short text vs strdup|strings_bench|ShortText<Saved>|ShortText<Strdup>|2|time"
  "GetToken over 10 MB vs strtok_r (speed)|tokens_bench|GetTokenScan|StrtokScan|0.7|speed"
  "DbmTGetRecord 1K vs map (no refresh)|dbm_bench|TypedGet<DBT_NO_REFRESH>/1000|MapGet<false>/1000|2|time"
  "DbmTGetRecord 1K vs map + one stat|dbm_bench|TypedGet<0>/1000|MapGet<true>/1000|2|time"
  "NlsFetchString 1K vs snprintf+map+stat|dbm_bench|NlsFetch/1000|NlsMap/1000|2|time"
  "DbmGetRecord 1K vs one read of the file|dbm_bench|PlainGet/1000|ReadFile/1000|2|time"
  "DbmTGetRecord 10K vs map (no refresh)|dbm_bench|TypedGet<DBT_NO_REFRESH>/10000|MapGet<false>/10000|2|time"
  "DbmTGetRecord 10K vs map + one stat|dbm_bench|TypedGet<0>/10000|MapGet<true>/10000|2|time"
  "NlsFetchString 10K vs snprintf+map+stat|dbm_bench|NlsFetch/10000|NlsMap/10000|2|time"
  "DbmGetRecord 10K vs one read of the file|dbm_bench|PlainGet/10000|ReadFile/10000|2|time"
  "DbmTGetRecord 100K vs map (no refresh)|dbm_bench|TypedGet<DBT_NO_REFRESH>/100000|MapGet<false>/100000|2|time"
  "DbmTGetRecord 100K vs map + one stat|dbm_bench|TypedGet<0>/100000|MapGet<true>/100000|2|time"
  "NlsFetchString 100K vs snprintf+map+stat|dbm_bench|NlsFetch/100000|NlsMap/100000|2|time"
  "DbmGetRecord 100K vs one read of the file|dbm_bench|PlainGet/100000|ReadFile/100000|2|time"
  "import 100K / import 10K (linear: 10x)|dbm_bench|Import/100000|Import/10000|12|time"
)

programs=$(printf '%s\n' "${RATIOS[@]}" | cut -d'|' -f2 | sort -u)
cmake --preset default >/dev/null
# shellcheck disable=SC2086
cmake --build build/default -j2 --target $programs >/dev/null

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for p in $programs; do
  # Only the benchmarks some ratio names, each repeated and interleaved.
  names=$(printf '%s\n' "${RATIOS[@]}" | awk -F'|' -v p="$p" '$2 == p {print $3; print $4}' |
          sed 's/[][<>()*+?.^$|\\/]/./g' | paste -sd'|')
  build/default/bench/"$p" --benchmark_filter="^($names)\$" \
    --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_min_time=0.2 \
    --benchmark_format=csv >"$out/$p.csv" 2>/dev/null
done

# The median CPU time of one benchmark from a program's CSV output.
median() {
  awk -F, -v n="\"$2_median\"" '$1 == n {print $4}' "$out/$1.csv"
}

printf '%-42s %10s %8s  %s\n' "ratio (medians of $REPS)" "measured" "goal" "met"
status=0
for r in "${RATIOS[@]}"; do
  IFS='|' read -r label prog ours alt goal kind <<<"$r"
  a=$(median "$prog" "$ours")
  b=$(median "$prog" "$alt")
  if [ -z "$a" ] || [ -z "$b" ]; then
    printf '%-42s %10s\n' "$label" "no result"
    status=1
    continue
  fi
  awk -v l="$label" -v a="$a" -v b="$b" -v g="$goal" -v k="$kind" 'BEGIN {
    if (k == "speed") { x = b / a; met = x >= g; goalText = ">= " g "x" }
    else { x = a / b; met = x <= g; goalText = "<= " g "x" }
    printf "%-42s %9.2fx %8s  %s\n", l, x, goalText, met ? "yes" : "NO"
  }'
done
if [ "$install" = 1 ]; then
  lines=$(tools/install-bench.sh 2>&1 | tail -2)
  echo "$lines"
  line=$(tail -1 <<<"$lines")
  case $line in *" yes "*) ;; *) status=1 ;; esac
fi
exit $status

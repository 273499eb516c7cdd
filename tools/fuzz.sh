#!/usr/bin/env bash
# Builds the fuzz targets of the clang preset and runs each for SECONDS
# (default 60) on a scratch copy of its seed corpus (fuzz/corpus/<name>),
# with its dictionary (fuzz/<name>.dict) when there is one. Prints one line
# per target: runs, executions per second, coverage (libFuzzer's "cov:"),
# findings; a finding's input and the target's log stay in the scratch
# directory, whose name is printed at the end. Status 1 when anything was
# found. The targets run one after another, never two at once; naming
# targets (dbm, html, ...) runs only those.
#
# usage: tools/fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
usage() { echo "usage: tools/fuzz.sh [SECONDS [TARGET...]]"; }
seconds=${1:-60}
case $seconds in
  -h|--help) usage; exit 0 ;;
  *[!0-9]*|"") usage >&2; exit 2 ;;
esac
shift $(($# > 0))

targets=()
if (($# == 0)); then
  for src in fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
else
  for name in "$@"; do
    [[ -f fuzz/${name}_fuzz.cpp ]] || { echo "tools/fuzz.sh: no fuzz target '$name'" >&2; exit 2; }
    targets+=("${name}_fuzz")
  done
fi
cmake --preset clang >/dev/null
cmake --build build/clang -j2 --target "${targets[@]}" >/dev/null

scratch=$(mktemp -d /tmp/tarnu-fuzz-XXXXXX)
found=0
printf '%-14s %10s %9s %7s %9s\n' target runs exec/s cov findings
for t in "${targets[@]}"; do
  name=${t%_fuzz}
  work=$scratch/$name
  mkdir -p "$work/corpus" "$work/artifacts"
  [[ -d fuzz/corpus/$name ]] && cp -r "fuzz/corpus/$name/." "$work/corpus/"
  # The sample help seeds the help parser too, without a second copy of it.
  [[ $name = html ]] && cp examples/help/*.htm "$work/corpus/"
  dict=()
  [[ -f fuzz/$name.dict ]] && dict=(-dict="$root/fuzz/$name.dict")
  status=0
  (cd "$work" && "$root/build/clang/fuzz/$t" -max_total_time="$seconds" -timeout=20 \
      -close_fd_mask=3 -artifact_prefix="$work/artifacts/" "${dict[@]}" "$work/corpus" \
      </dev/null >"$work/log" 2>&1) || status=$?
  # The last status line of libFuzzer: "#<runs> <event> cov: <n> ... exec/s: <n> ...".
  stats=$(grep -a '^#[0-9]' "$work/log" | tail -1 || true)
  runs=$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$stats")
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$stats")
  speed=$(sed -n 's/.* exec\/s: \([0-9]*\).*/\1/p' <<<"$stats")
  findings=$(find "$work/artifacts" -type f | wc -l)
  if ((status != 0 && findings == 0)); then findings="exit $status"; fi
  [[ $findings == 0 ]] || found=1
  printf '%-14s %10s %9s %7s %9s\n' "$name" "${runs:--}" "${speed:--}" "${cov:--}" "$findings"
done
echo "logs, corpora and findings: $scratch"
exit $found

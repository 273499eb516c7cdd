#!/usr/bin/env bash
# Tests of the shell tools: how each answers --help and wrong options, and
# the demo run without a terminal in two languages, with a failing
# installer and killed half way. Needs root (the sandbox) and a built
# installer (default: build/default/setup/setup).
#
# usage: tests/tools/run.sh [SETUP]
set -uo pipefail
cd "$(dirname "$0")/../.."
case ${1:-} in
  -h|--help) echo "usage: tests/tools/run.sh [SETUP]"; exit 0 ;;
  -*) echo "usage: tests/tools/run.sh [SETUP]" >&2; exit 2 ;;
esac
setup_bin=$(realpath "${1:-build/default/setup/setup}")
[ -x "$setup_bin" ] || { echo "tools test: no installer at $setup_bin" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
check() {  # check WHAT CONDITION...
  local what=$1; shift
  if ! "$@"; then echo "FAIL: $what" >&2; failures=$((failures + 1)); fi
}
has() { grep -qF -- "$2" "$1"; }

# Options: command line, expected status, the stream that must hold TEXT.
while IFS='|' read -r cmd want stream text; do
  bash -c "$cmd" >"$scratch/out" 2>"$scratch/err" </dev/null
  got=$?
  check "$cmd: status $got, not $want" [ "$got" = "$want" ]
  check "$cmd: no '$text' on std$stream" has "$scratch/$stream" "$text"
done <<'TABLE'
tools/sandbox --help|0|out|usage: sandbox
tools/sandbox --bogus true|2|err|usage: sandbox
tools/sandbox|2|err|no command given
tools/sandbox --keep|2|err|--keep needs a value
tools/sandbox --env FOO true|2|err|--env wants NAME=VALUE
tools/sandbox --bind /nonexistent:/x true|2|err|no such directory
tools/test.sh --help|0|out|usage: tools/test.sh
tools/test.sh --asn|2|err|unknown option --asn
tools/deps.sh --help|0|out|usage: tools/deps.sh
tools/deps.sh --all|2|err|unknown option --all
tools/demo.sh --help|0|out|usage: tools/demo.sh
tools/demo.sh --setup|2|err|--setup needs a value
TABLE

# The demo in German, declined; in English, accepted.
yes n | LANG=de_DE.UTF-8 tools/demo.sh --setup "$setup_bin" >"$scratch/de" 2>&1
status=${PIPESTATUS[1]}
check "German demo: status $status" [ "$status" = 0 ]
check "German demo: German licence" has "$scratch/de" "$(head -1 setup/licence/de_DE.txt)"
check "German demo: says nothing was installed" has "$scratch/de" "Nothing was installed"
printf 'y\n' | LANG=en_US.UTF-8 tools/demo.sh --setup "$setup_bin" >"$scratch/en" 2>&1
status=$?
check "English demo: status $status" [ "$status" = 0 ]
check "English demo: English licence" has "$scratch/en" "$(head -1 setup/licence/en_US.txt)"
check "English demo: lists the installed tprint" has "$scratch/en" "A /usr/Tarnu/tpxx/tprint 0755 root:root file"
check "English demo: says it installed" has "$scratch/en" "setup installed or changed"

# A failing installer: the demo ends with its status.
printf '#!/bin/sh\nexit 3\n' >"$scratch/fails"
chmod 755 "$scratch/fails"
tools/demo.sh --setup "$scratch/fails" </dev/null >"$scratch/out" 2>&1
status=$?
check "failing installer: demo status $status, not 3" [ "$status" = 3 ]
check "failing installer: says nothing was installed" has "$scratch/out" "Nothing was installed"

# Killed while the installer runs: nothing of it stays.
printf '#!/bin/sh\nexec sleep 30\n' >"$scratch/hangs"
chmod 755 "$scratch/hangs"
tools/demo.sh --setup "$scratch/hangs" </dev/null >"$scratch/out" 2>&1 &
demo=$!
descendants() {
  local p
  for p in $(ps -o pid= --ppid "$1"); do echo "$p"; descendants "$p"; done
}
for _ in $(seq 100); do
  tree=$(descendants "$demo")
  for p in $tree; do [ "$(ps -o comm= -p "$p")" = sleep ] && break 2; done
  sleep 0.2
done
kill -TERM "$demo"
wait "$demo"
status=$?
check "killed demo: status $status" [ "$status" = 143 ]
sleep 1
left=""
# A zombie waits for a parent that does not reap; it runs nothing.
for p in $tree; do
  st=$(ps -o stat= -p "$p") && [[ $st != Z* ]] && left+=" $p"
done
[ -z "$left" ] || ps -o pid,ppid,args -p $(echo $left | tr " " ,) >&2
check "killed demo: processes left:$left" [ -z "$left" ]

((failures == 0)) && echo "tools test: all passed"
exit $((failures > 0))

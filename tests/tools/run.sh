#!/usr/bin/env bash
# Tests of the tools: how each answers --help and wrong options, what
# mkdist warns about and how it chooses its pieces, and
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
export build=${setup_bin%/setup/setup} scratch setup_bin
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
tools/mkdist --help|0|out|usage: mkdist
tools/mkdist --bogus a b|2|err|unknown option --bogus
tools/mkdist --setup|2|err|--setup needs a value
tools/mkdist examples/package|2|err|give a package tree and an output directory
tools/mkdist --piece-size 12X examples/package "$scratch/x"|2|err|--piece-size 12X is not a size
tools/mkdist --setup /nonexistent examples/package "$scratch/x"|1|err|installer /nonexistent not found
tools/mkdist --setup "$setup_bin" --piece-size 1 examples/package "$scratch/x"|1|err|at most 338 fit
"$build/tools/tdbtool/tdbtool" --help|0|out|usage: tdbtool
"$build/tools/tdbtool/tdbtool" --bogus|2|err|usage: tdbtool
"$build/tools/tpmenu/tpmenu" --help|0|out|usage: tpmenu
"$build/tools/tpmenu/tpmenu" --bogus x|2|err|usage: tpmenu
"$build/tools/tphelp/tphelp" --help|0|out|usage: tphelp
"$build/tools/tphelp/tphelp" --bogus x|2|err|usage: tphelp
"$build/tools/solaris-driver/solaris-driver" --help|0|out|usage: solaris-driver
"$build/tools/solaris-driver/solaris-driver" --bogus|2|err|usage: solaris-driver
tools/check-layering --help|0|out|usage: tools/check-layering
tools/bench.sh --help|0|out|usage: tools/bench.sh
tools/bench.sh --bogus|2|err|unknown option --bogus
tools/install-bench.sh --help|0|out|usage: tools/install-bench.sh
tools/install-bench.sh --bogus|2|err|usage: tools/install-bench.sh
tools/fuzz.sh --help|0|out|usage: tools/fuzz.sh
tools/fuzz.sh 5 nosuch|2|err|no fuzz target 'nosuch'
tools/kills.sh --help|0|out|usage: tools/kills.sh
tools/kills.sh --bogus|2|err|usage: tools/kills.sh
tools/crash.sh --help|0|out|usage: tools/crash.sh
tools/crash.sh --bogus|2|err|usage: tools/crash.sh
tools/valgrind.sh --help|0|out|usage: tools/valgrind.sh
tools/valgrind.sh --bogus|2|err|unknown option --bogus
tools/coverage.sh --help|0|out|usage: tools/coverage.sh
tools/coverage.sh --bogus|2|err|unknown argument --bogus
tools/check-layering --bogus|2|err|usage: tools/check-layering
TABLE
check "a failed mkdist leaves no output directory" [ ! -e "$scratch/x" ]

# mkdist warns about a package without the files every package holds (the
# sample renames tprtpxxtty.bin), and chooses larger pieces when 64K ones
# would not fit the disk list.
cp -r examples/package "$scratch/tree"
tools/mkdist --setup "$setup_bin" "$scratch/tree" "$scratch/d1" >/dev/null 2>"$scratch/err"
check "mkdist: the sample package draws no warning" [ ! -s "$scratch/err" ]
rm "$scratch/tree/pkg/tsf"
sed -i 's/ name tprtpxxtty//' "$scratch/tree/pkg/pkg.list"
tools/mkdist --setup "$setup_bin" "$scratch/tree" "$scratch/d2" >/dev/null 2>"$scratch/err"
check "mkdist warns about tsf" has "$scratch/err" "warning: $scratch/tree has no pkg/tsf"
check "mkdist warns about tprtpxxtty" has "$scratch/err" "no pkg/tprtpxxtty"
check "mkdist: tpqadmin is there" [ "$(grep -c warning "$scratch/err")" = 2 ]
head -c 23000000 /dev/urandom >"$scratch/tree/pkg/big"
tools/mkdist --gzip --setup "$setup_bin" "$scratch/tree" "$scratch/d3" >"$scratch/out" 2>/dev/null
check "mkdist: says what it chose" has "$scratch/out" "no --piece-size given: pieces of "
check "mkdist: 23 MB in pieces of more than 64K" [ "$(stat -c %s "$scratch/d3/pkg_tar.001")" -gt 65536 ]
check "mkdist: the disk list fits 4095 bytes" [ "$(wc -c <"$scratch/d3/disks")" -le 4095 ]
rm -rf "$scratch/tree" "$scratch/d1" "$scratch/d2" "$scratch/d3"

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

#!/usr/bin/env bash
# The installer against its floor: a package tree of FILES files and MB
# megabytes (default 2,000 and 100) is made into a distribution of 1 MB
# pieces, then, in one sandbox and interleaved, installed with setup and
# carried through the floor by hand (the pieces joined, decompressed,
# unpacked and the tree copied with cp -pr), REPS times each. A third
# reference, "by the installer's commands", is the floor done the way the
# installer must do it: every piece copied into the work area with its own
# cp and appended with its own cat, each through the shell the installer
# starts ("sh -c" of "/usr/bin/sh -c \"...\""), and every other command the
# run makes replaced by the same two shells around /usr/bin/true: what the
# installer cannot do faster without leaving out a command of its own.
# Prints two lines, the last one the installs over the floors (with both
# medians), the one before the installs over the third reference; with
# --detail also the last install's log. Never runs setup outside
# tools/sandbox.
#
#   tools/install-bench.sh [--setup PATH] [--files N] [--mb N] [--reps N] [--detail]
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: tools/install-bench.sh [--setup PATH] [--files N] [--mb N] [--reps N] [--detail]"; }
setup_bin=build/default/setup/setup files=2000 mb=100 reps=${BENCH_REPS:-5} detail=0
while [ $# -gt 0 ]; do
  case $1 in
    -h|--help) usage; exit 0 ;;
    --detail) detail=1; shift; continue ;;
    --setup|--files|--mb|--reps)
      [ $# -ge 2 ] || { echo "install-bench.sh: $1 needs a value" >&2; usage >&2; exit 2; } ;;
    *) usage >&2; exit 2 ;;
  esac
  case $1 in
    --setup) setup_bin=$2 ;;
    --files) files=$2 ;;
    --mb) mb=$2 ;;
    --reps) reps=$2 ;;
  esac
  shift 2
done
if [ "$setup_bin" = build/default/setup/setup ]; then
  cmake --preset default >/dev/null
  cmake --build build/default -j2 --target setup >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tree=$work/tree
cp -r examples/package "$tree"
mkdir "$tree/pkg/data"
# Text of random words in base64 (it compresses to about three quarters,
# as program files and fonts do), cut into the files.
head -c $((mb * 1024 * 1024 * 3 / 4)) /dev/urandom | base64 -w 76 >"$work/text"
(cd "$tree/pkg/data" && split -a 4 -d -n "$files" "$work/text" f)
rm "$work/text"
printf 'dir data mode 755\n' >>"$tree/pkg/pkg.list"
tools/mkdist --setup "$setup_bin" --piece-size 1M "$tree" "$work/dist" >/dev/null
rm -rf "$tree"

cat >"$work/run.sh" <<'EOF'
if [ "$TARNU_SANDBOX" != 1 ] || [ ! -e /.tarnu-sandbox ]; then
  echo 'install-bench: refusing to run outside the sandbox' >&2; exit 99
fi
now() { date +%s.%N; }
clean() {
  rm -rf /usr/Tarnu /var/spool/Tarnu /tmp/TarnuInstall /tmp/floor /tmp/commands.sh /tmp/setup.log
  rm -f /usr/bin/tpqadmin /usr/bin/tprint
}
# The processes a run starts: the sandbox's PID namespace hands out PIDs in
# order, so the difference of two fresh PIDs counts them.
pid() { sh -c 'echo $$'; }
install() {
  p0=$(pid)
  t0=$(now)
  (cd / && exec /dist/setup </bench/yes >/dev/null 2>&1) || { echo "setup failed" >&2; exit 1; }
  t1=$(now)
  # Less setup itself and the two clock readings.
  echo $(($(pid) - p0 - 3)) >/bench/processes
  [ -f /usr/Tarnu/tpxx/data/f0000 ] || { echo "setup installed nothing" >&2; exit 1; }
  echo "$t0 $t1" >>/bench/install
  cp /tmp/setup.log /bench/log
}
floor() {
  t0=$(now)
  mkdir /tmp/floor && cd /tmp/floor
  cat /dist/pkg_tar.* >Linuxi386Tpxx.tar.Z
  uncompress Linuxi386Tpxx.tar.Z
  tar xf Linuxi386Tpxx.tar
  cp -pr pkg/data /tmp/floor/copy
  t1=$(now)
  cd /
  echo "$t0 $t1" >>/bench/floor
}
# The command lines are written out first and run by one sh (dash, as the
# installer's system() does), so the loop itself costs what setup's does.
twoShells() { printf "sh -c '/usr/bin/sh -c \"%s\"'\n" "$1"; }
commands() {
  pieces=$(ls /dist | grep -c '^pkg_tar\.')
  # Three processes per command (system's shell, the command's shell, the
  # tool); the pieces' copies and appends are done for real.
  others=$(($(cat /bench/processes) / 3 - 2 * pieces))
  mkdir /tmp/floor
  {
    for p in /dist/pkg_tar.*; do twoShells "/usr/bin/cp -p $p /tmp/floor 1>>/tmp/floor/log 2>>/tmp/floor/log"; done
    for p in /dist/pkg_tar.*; do twoShells "/usr/bin/cat  /tmp/floor/${p#/dist/} >> /tmp/floor/Linuxi386Tpxx.tar.Z"; done
    echo "cd /tmp/floor && uncompress Linuxi386Tpxx.tar.Z && tar xvfp Linuxi386Tpxx.tar >>log && cp -pr pkg/data copy"
    for _ in $(seq "$others"); do twoShells /usr/bin/true; done
  } >/tmp/commands.sh
  t0=$(now)
  sh /tmp/commands.sh
  t1=$(now)
  echo "$t0 $t1" >>/bench/commands
}
for i in $(seq "$1"); do
  clean; install
  clean; floor
  clean; commands
done
clean
EOF
printf 'y\n' >"$work/yes"
tools/sandbox --bind "$work/dist:/dist" --bind-rw "$work:/bench" -- /bin/bash /bench/run.sh "$reps"

median() {
  awk '{print $2 - $1}' "$1" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
ours=$(median "$work/install")
floor=$(median "$work/floor")
commands=$(median "$work/commands")
awk -v a="$ours" -v b="$commands" -v n="$(cat "$work/processes")" 'BEGIN {
  printf "%-42s %9.2fx %8s  %s   (%.2f s / %.2f s; %d processes)\n", "  by the installer'"'"'s commands",
    a / b, "", "", a, b, n }'
awk -v a="$ours" -v b="$floor" -v f="$files" -v m="$mb" 'BEGIN {
  printf "%-42s %9.2fx %8s  %s   (%.2f s / %.2f s)\n", "install " f " files, " m " MB vs its floor",
    a / b, "<= 1.5x", a / b <= 1.5 ? "yes" : "NO", a, b }'
[ "$detail" = 0 ] || cat "$work/log"

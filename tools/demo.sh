#!/usr/bin/env bash
# Demonstrates the installer: installs what building it needs, builds it
# (in build/demo, without the tests), makes the sample distribution from
# examples/package and runs setup on it inside the sandbox, interactively
# and in the language of LANG: you read the licence and answer it.
# Afterwards it shows what was installed, the log, and every path the run
# changed relative to the machine, says plainly whether anything was
# installed and ends with setup's exit status. setup never runs outside the
# sandbox, so the machine is left as it was; killing the demo ends the
# sandbox and setup with it.
#
# usage: tools/demo.sh [--setup PATH] [--] [setup argument...]
#   --setup PATH   run this installer instead of building one
#   --help         this text
# Other arguments go to setup (tools/demo.sh /tmp /opt installs under /opt).
set -euo pipefail
usage() { sed -n '12,15p' "$0" | sed 's/^# \{0,1\}//'; }
cd "$(dirname "$0")/.."
root=$(pwd)

setup_bin=""
while (($#)); do
  case $1 in
    --setup)
      (($# >= 2)) || { echo "demo.sh: --setup needs a value" >&2; exit 2; }
      setup_bin=$(realpath -e -- "$2") || { echo "demo.sh: no installer at $2" >&2; exit 2; }
      shift 2 ;;
    -h|--help) usage; exit 0 ;;
    --) shift; break ;;
    *) break ;;
  esac
done

if [ "$(id -u)" -ne 0 ]; then
  echo "demo.sh: run as root (the sandbox needs it; setup itself stays inside it)" >&2
  exit 1
fi

if [ -z "$setup_bin" ]; then
  tools/deps.sh --setup-only
  cmake --preset default -B build/demo -DTARNU_TESTS=OFF -DTARNU_BENCH=OFF >/dev/null
  cmake --build build/demo --target setup -j2
  setup_bin=$root/build/demo/setup/setup
fi

work=$(mktemp -d)
sandbox=""
trap 'rm -rf "$work"' EXIT
# A signal to the demo ends the sandbox, which ends setup.
trap '[ -z "$sandbox" ] || { kill -TERM "$sandbox"; wait "$sandbox"; } 2>/dev/null; exit 130' INT
trap '[ -z "$sandbox" ] || { kill -TERM "$sandbox"; wait "$sandbox"; } 2>/dev/null; exit 143' TERM HUP
tools/mkdist --setup "$setup_bin" examples/package "$work/dist"

# What the sandbox runs: setup on the terminal, then a look at its results.
cat >"$work/run.sh" <<'EOF'
#!/bin/sh
[ "$TARNU_SANDBOX" = 1 ] && [ -e /.tarnu-sandbox ] || { echo "demo: not in the sandbox" >&2; exit 99; }
cd /
echo "=== setup${*:+ $*} (in the sandbox, LANG=${LANG:-unset}; answer y to accept the licence)"
/dist/setup "$@"
status=$?
echo
echo "=== setup ended with status $status"
if [ -e /usr/Tarnu/tpxx ]; then
  echo "=== /usr/Tarnu"
  ls -la /usr/Tarnu
  echo "=== the application directory"
  ls -la /usr/Tarnu/tpxx/
  echo "=== the spool directory"
  ls -laR /var/spool/Tarnu
  echo "=== wrapper scripts in /usr/bin"
  ls -la /usr/bin/tprint /usr/bin/tpqadmin 2>/dev/null
  echo "=== tprint, run through its wrapper"
  tprint /etc/hostname
fi
if [ -e /tmp/setup.log ]; then
  echo "=== /tmp/setup.log"
  cat /tmp/setup.log
else
  echo "=== no log was written"
fi
echo "=== what the run changed, relative to the machine"
exit "$status"
EOF
chmod 755 "$work/run.sh"
echo "=== distribution in $work/dist:"
ls -l "$work/dist"
envs=()
[ -z "${LANG+set}" ] || envs=(--env "LANG=$LANG")
set +e
tools/sandbox --changes --changes-json "$work/changes.json" "${envs[@]}" \
  --bind "$work/dist:/dist" --bind "$work:/demo" -- /demo/run.sh "$@" <&0 &
sandbox=$!
wait "$sandbox"
status=$?
set -e
sandbox=""
installed=$(grep -c '"path": "/' "$work/changes.json" 2>/dev/null || true)
outside=$(grep '"path": "/' "$work/changes.json" 2>/dev/null | grep -vc '"path": "/tmp/' || true)
echo "==="
if [ "${outside:-0}" -gt 0 ]; then
  echo "setup installed or changed $outside paths outside /tmp (listed above), inside the sandbox only;"
  echo "the machine itself is unchanged. setup's exit status: $status"
else
  echo "Nothing was installed: setup changed nothing outside /tmp (${installed:-0} paths in /tmp)."
  echo "setup's exit status: $status"
fi
exit "$status"

#!/usr/bin/env bash
# Demonstrates the installer: installs what the build needs, builds the
# project (preset "default"), makes the sample distribution from
# examples/package and runs setup on it inside the sandbox, interactively:
# you read the licence and answer it. Afterwards it shows what was installed
# and the log. setup never runs outside the sandbox, so the machine is left
# as it was.
#
# usage: tools/demo.sh [setup argument...]    (e.g. tools/demo.sh /tmp /opt)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "$(id -u)" -ne 0 ]; then
  echo "demo.sh: run as root (the sandbox needs it; setup itself stays inside it)" >&2
  exit 1
fi

tools/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target setup

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tools/mkdist --setup "$root/build/default/setup/setup" examples/package "$work/dist"

# What the sandbox runs: setup on the terminal, then a look at its results.
cat >"$work/run.sh" <<'EOF'
#!/bin/sh
[ "$TARNU_SANDBOX" = 1 ] && [ -e /.tarnu-sandbox ] || { echo "demo: not in the sandbox" >&2; exit 99; }
cd /
echo "=== setup${*:+ $*} (in the sandbox; answer y to accept the licence)"
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
EOF
chmod 755 "$work/run.sh"
echo "=== distribution in $work/dist:"
ls -l "$work/dist"
tools/sandbox --bind "$work/dist:/dist" --bind "$work:/demo" -- /demo/run.sh "$@"

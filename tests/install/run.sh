#!/usr/bin/env bash
# Installs the build (default: build/default, already built) into a
# temporary prefix, builds the consumer program against it once with
# find_package and once with pkg-config, runs both and checks what they say;
# the installed layout is checked on the way. Leaves nothing behind.
#
# usage: tests/install/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/default}
usage="usage: tests/install/run.sh [BUILD_DIR]"
case $build in
  -h|--help) echo "$usage"; exit 0 ;;
  -*) echo "$usage" >&2; exit 2 ;;
esac
[ -f "$build/CMakeCache.txt" ] || { echo "install test: $build is not a configured build" >&2; exit 2; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
# What the runs below do not use.
for f in bin/tarnu-sandbox share/tarnu/trans.conf share/tarnu/db/de_DE/CoreString.tdb \
         share/man/man8/setup.8 share/man/man1/mkdist.1 share/man/man1/tdbtool.1 \
         share/man/man1/tarnu-sandbox.1 share/man/man1/tpmenu.1 share/man/man1/tphelp.1 \
         bin/tpmenu bin/tphelp; do
  [ -e "$prefix/$f" ] || { echo "install test: $f was not installed" >&2; exit 1; }
done
# The installed tools take their data from the prefix, not from the tree.
"$prefix/bin/tdbtool" --file "$prefix/share/tarnu/db/en_US/CoreString.tdb" list | grep -q . \
  || { echo "install test: the installed catalogue is empty" >&2; exit 1; }
(cd "$scratch" && "$prefix/bin/mkdist" "$prefix/share/tarnu/examples/package" dist >/dev/null)
cmp -s "$prefix/libexec/tarnu/setup" "$scratch/dist/setup" \
  || { echo "install test: mkdist did not take the installed installer" >&2; exit 1; }

expect="tarnu 2"
cmake -S tests/install -B "$scratch/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/cmake-build" >/dev/null
got=$("$scratch/cmake-build/consumer")
[ "$got" = "$expect" ] || { echo "install test: find_package consumer said '$got'" >&2; exit 1; }

# shellcheck disable=SC2046
c++ -std=c++20 -o "$scratch/consumer-pc" tests/install/consumer.cpp \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs tarnu)
got=$("$scratch/consumer-pc")
[ "$got" = "$expect" ] || { echo "install test: pkg-config consumer said '$got'" >&2; exit 1; }
echo "install test: find_package and pkg-config consumers built and ran"

#!/usr/bin/env bash
# Makes the Debian package of the tools from a build (default:
# build/default, already built), checks its control data (no maintainer
# scripts, the dependencies named), then inside the sandbox installs it with
# dpkg -i, runs tdbtool --help and mkdist on the installed sample package,
# removes it with dpkg -r and checks that nothing of it is left: the
# sandbox's change list may name only dpkg's own records and caches.
#
# usage: tests/package/deb.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
usage="usage: tests/package/deb.sh [BUILD_DIR]"
build=${1:-build/default}
case $build in
  -h|--help) echo "$usage"; exit 0 ;;
  -*) echo "$usage" >&2; exit 2 ;;
esac
[ -f "$build/CPackConfig.cmake" ] || { echo "deb test: $build is not a configured build" >&2; exit 2; }
fail() { echo "deb test: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
name=tarnu-tools_${version}_$(dpkg --print-architecture).deb

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
mkdir "$scratch/deb"
mv "$scratch/out/$name" "$scratch/deb/" || fail "no $name"
deb=$scratch/deb/$name
dpkg-deb -e "$deb" "$scratch/control"
for script in preinst postinst prerm postrm config triggers; do
  [ ! -e "$scratch/control/$script" ] || fail "the package has a $script script"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in tar gzip ncompress; do
  [[ ", $depends," == *", $dep,"* ]] || fail "$dep is not among the dependencies ($depends)"
done

cat >"$scratch/deb/run.sh" <<SH
set -e
dpkg -i /deb/$name >/dev/null
tdbtool --help | grep -q '^usage: tdbtool'
[ -f /usr/share/man/man8/setup.8 ]
mkdist /usr/share/tarnu/examples/package /root/dist >/dev/null
cmp /usr/libexec/tarnu/setup /root/dist/setup
rm -r /root/dist
dpkg -r tarnu-tools >/dev/null
! dpkg-query -W tarnu-tools >/dev/null 2>&1
SH
tools/sandbox --changes --bind "$scratch/deb:/deb" -- /bin/sh /deb/run.sh >"$scratch/changes" \
  || fail "install, use or removal failed in the sandbox"
left=$(grep -v -e ' /var/lib/dpkg/' -e ' /var/log/' -e ' /var/cache/' -e ' /tmp/' "$scratch/changes" || true)
[ -z "$left" ] || fail "left behind after dpkg -r:
$left"
echo "deb test: $name installed, used and removed cleanly"

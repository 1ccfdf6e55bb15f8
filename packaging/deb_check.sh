#!/usr/bin/env bash
# The Debian package as a user meets it: made by CPack, installed with apt,
# run on the example with no configuration of the user's own (it must find
# /usr/share/velcorin2/velcorin2.conf) and compared with the build tree's
# table, its manual page opened, then removed, with nothing of it left.
# Needs root, apt, dpkg-dev (dpkg-shlibdeps) and man-db; CI runs it.
#   bash packaging/deb_check.sh [build folder]      (default build-deb)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-deb}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "deb_check: $*" >&2; exit 1; }

if dpkg -s velcorin2 >/dev/null 2>&1; then fail "a velcorin2 package is installed already; remove it first"; fi
cmake -S "$root" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr -DVELCORIN_TESTS=OFF -DVELCORIN_PYTHON=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
rm -f "$build"/velcorin2_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/velcorin2_*.deb)
version=$(sed -n 's/^project(velcorin2 VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's version is not $version"

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
dpkg -L velcorin2 >"$work/files"
remove() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velcorin2 >/dev/null; }
trap 'remove 2>/dev/null || true; rm -rf "$work"' EXIT

# A user with no configuration: an empty home, no VELCORIN_CONFIG.
mkdir "$work/home"
[ "$(command -v velcorin2)" = /usr/bin/velcorin2 ] || fail "velcorin2 is not /usr/bin/velcorin2"
[ "$(velcorin2 --version)" = "velcorin2 $version" ] && [ "$(velcorin2-counts --version)" = "velcorin2-counts $version" ] ||
  fail "the installed programs do not report version $version"
(cd "$work" && env -u VELCORIN_CONFIG HOME="$work/home" velcorin2 "$root/examples/example.fa" installed.txt \
  >stdout.txt 2>&1) || fail "the installed velcorin2 failed: $(cat "$work/stdout.txt")"
(cd "$root" && VELCORIN_CONFIG=data/velcorin2.conf "$build/velcorin2" examples/example.fa "$work/tree.txt" >/dev/null 2>&1)
cmp "$work/installed.txt" "$work/tree.txt" || fail "the installed program's table differs from the build tree's"
grep -q '^calib = /usr/share/velcorin2/calibration.dat$' /usr/share/velcorin2/velcorin2.conf ||
  fail "the installed configuration does not name the installed calibration"
MANPAGER=cat man velcorin2 2>/dev/null | grep -q 'velcorin2' || fail "man velcorin2 shows no page"
MANPAGER=cat man velcorin2-counts 2>/dev/null | grep -q 'calibrat' || fail "man velcorin2-counts shows no page"
[ -f /usr/share/doc/velcorin2/README.md ] && [ -f /usr/share/doc/velcorin2/LICENSE ] || fail "the documentation is missing"

remove
trap 'rm -rf "$work"' EXIT
left=()
while read -r f; do
  # Folders other packages share (/usr/bin, /usr/share/man/man1) stay; ours go.
  if [ -e "$f" ] && { [ ! -d "$f" ] || [[ $f == *velcorin2* ]]; }; then left+=("$f"); fi
done <"$work/files"
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
! dpkg -s velcorin2 >/dev/null 2>&1 || fail "the package is still registered"
echo "deb_check: $(basename "$deb"): installed, ran on the example with the installed configuration," \
  "manual pages open, removed without a trace ($(wc -l <"$work/files") paths)"

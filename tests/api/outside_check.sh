#!/usr/bin/env bash
# The library as an outside program sees it: installed into a scratch
# prefix, a program that includes only <velcorin2/...> and links only the
# installed library is built with the compiler alone, and its table of the
# examples is byte for byte the command line's.
#   outside_check.sh <build dir> <c++ compiler> [flags of a sanitizer build]
set -euo pipefail
build=$(cd "$1" && pwd) cxx=$2 flags=${3:-}
here=$(cd "$(dirname "$0")" && pwd) root=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
lib=$(find "$work/prefix" -name libvelcorin2.a | head -n 1)
[ -n "$lib" ] || { echo "libvelcorin2.a was not installed"; exit 1; }
[ -f "$work/prefix/include/velcorin2/velcorin2.h" ] || { echo "the public headers were not installed"; exit 1; }
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++20 -O2 -ffp-contract=off $flags -I"$work/prefix/include" "$here/outside.cpp" "$lib" -pthread -o "$work/outside"
conf=$work/prefix/share/velcorin2/velcorin2.conf
"$work/outside" "$conf" "$root/examples/example.fa" >"$work/api.out" 2>"$work/api.regions"
VELCORIN_CONFIG=$conf "$build/velcorin2" --regions "$work/cli.tsv" "$root/examples/example.fa" "$work/cli.out" \
  >/dev/null 2>&1
cmp "$work/api.out" "$work/cli.out" || { echo "the library's table differs from the command line's"; exit 1; }
# The regions: code, start, end and best score, as the region table lists them.
awk -F '\t' 'NR > 1 { print $1, $2, $3, $6 }' "$work/cli.tsv" >"$work/cli.regions"
cmp "$work/api.regions" "$work/cli.regions" || { echo "the library's regions differ from the command line's"; exit 1; }
echo "the installed library gives the command line's table and regions ($(wc -l <"$work/api.regions") regions)"

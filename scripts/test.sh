#!/usr/bin/env bash
# Builds velcorin2 twice (plain, and with AddressSanitizer + UBSan) and runs
# every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
for variant in build build-asan; do
  flags=()
  [ "$variant" = build-asan ] && flags=(-DVELCORIN_SANITIZE=ON)
  cmake -S . -B "$variant" "${flags[@]}" >/dev/null
  cmake --build "$variant" -j "$jobs"
  ctest --test-dir "$variant" --output-on-failure --no-tests=error -j "$jobs"
done

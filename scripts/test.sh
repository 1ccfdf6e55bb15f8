#!/usr/bin/env bash
# Builds velcorin2 three times and tests each build: plain and with
# AddressSanitizer + UBSan, every test; with ThreadSanitizer, every case
# run with --threads 3.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
for variant in build build-asan build-tsan; do
  flags=()
  tests=()
  case $variant in
    build-asan) flags=(-DVELCORIN_SANITIZE=ON) ;;
    build-tsan) flags=(-DVELCORIN_TSAN=ON) tests=(-R '^(test_model|case\..*\.threads3)$') ;;
  esac
  cmake -S . -B "$variant" "${flags[@]}" >/dev/null
  cmake --build "$variant" -j "$jobs"
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$variant" --output-on-failure --no-tests=error -j "$jobs" "${tests[@]}"
done

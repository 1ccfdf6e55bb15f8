#!/usr/bin/env bash
# Builds velcorin2 three times and tests each build: plain and with
# AddressSanitizer + UBSan, every test; with ThreadSanitizer, every case
# run with --threads 3 and the ordered scorer's tests.  Then the Python
# package: a wheel built offline, installed into a scratch virtual
# environment with Debian's python3, and its tests run there against the
# plain build's program; then the checks of the analysis scripts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)
for variant in build build-asan build-tsan; do
  flags=()
  tests=()
  case $variant in
    # The Python tests run below, on the installed wheel.
    build) tests=(-E '^python$') ;;
    build-asan) flags=(-DVELCORIN_SANITIZE=ON) ;;
    build-tsan) flags=(-DVELCORIN_TSAN=ON) tests=(-R '^(test_model|case\..*\.threads3|OrderedScorer\..*)$') ;;
  esac
  cmake -S . -B "$variant" "${flags[@]}" >/dev/null
  cmake --build "$variant" -j "$jobs"
  TSAN_OPTIONS=halt_on_error=1 ctest --test-dir "$variant" --output-on-failure --no-tests=error -j "$jobs" "${tests[@]}"
done

venv=$(mktemp -d)
trap 'rm -rf "$venv"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$venv"
CMAKE_BUILD_PARALLEL_LEVEL=$jobs "$venv/bin/python" -m pip wheel -q --no-build-isolation --no-index --no-deps \
  -w "$venv/dist" .
"$venv/bin/python" -m pip install -q --no-index --no-deps "$venv"/dist/velcorin2-*.whl
(cd "$venv" && VELCORIN2_PROGRAM=$root/build/velcorin2 "$venv/bin/python" -m pytest -q -p no:cacheprovider \
  "$root/tests/python")
# The oligomeric-state evaluation's own checks (a held-out group never
# scores with its own counts), on Debian's python3 and numpy.
(cd "$root" && /usr/bin/python3 -m pytest -q -p no:cacheprovider analysis/test_evaluate_states.py)

#!/usr/bin/env bash
# Builds the libFuzzer harnesses (build-fuzz, clang++) and runs each of them
# for the given number of seconds, one after the other on one core, from a
# scratch copy of its seed corpus (the corpus in the repository is never
# changed).  Fails when any harness crashes, leaks, hits undefined behaviour,
# times out or breaks one of its invariants; the input that did it is kept
# in build-fuzz/findings/<harness>/.  Prints executions and coverage per
# harness.
#
#   scripts/fuzz.sh [seconds-per-harness] [harness...]
#   FUZZ_FLAGS="-max_len=30000" scripts/fuzz.sh 600 driver   # extra libFuzzer flags
#   VELCORIN_FUZZ_PROCESSES=1 scripts/fuzz.sh 60 cli   # with a real "|cat" pipe and zcat
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
secs=${1:-60}
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fasta pos config counts calib region format cli driver)

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVELCORIN_FUZZ=ON -DVELCORIN_TESTS=OFF \
  -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build build-fuzz --target fuzzers -j "${FUZZ_BUILD_JOBS:-2}" >/dev/null

# The harnesses' scratch files go to a memory file system when there is one;
# a small quarantine and short allocation stacks keep AddressSanitizer's
# memory hot (use after free is still caught for recent frees).  Both more
# than double the executions per second of the harnesses that load a model.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=5}

work=$(mktemp -d /tmp/vc2fuzzrun.XXXXXX)
trap 'rm -rf "$work"' EXIT
summary=()
failed=0
for h in "${harnesses[@]}"; do
  exe=$root/build-fuzz/fuzz/fuzz_$h
  [ -x "$exe" ] || { echo "no harness fuzz_$h" >&2; exit 2; }
  corpus=$work/corpus-$h
  mkdir -p "$corpus" "$root/build-fuzz/findings/$h"
  cp -r "$root/fuzz/corpus/$h/." "$corpus/" 2>/dev/null || true
  log=$work/$h.log
  echo "== fuzz_$h: ${secs}s" >&2
  # -close_fd_mask=2 silences the program's own stderr; libFuzzer and the
  # sanitizers keep writing their reports to a duplicate of it.
  status=0
  "$exe" "$corpus" -max_total_time="$secs" -timeout=20 -rss_limit_mb=2048 \
    -dict="$root/fuzz/velcorin2.dict" -close_fd_mask=2 -print_final_stats=1 \
    -artifact_prefix="$root/build-fuzz/findings/$h/" ${FUZZ_FLAGS:-} >"$log" 2>&1 || status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  units=$(find "$corpus" -type f | wc -l)
  verdict=ok
  if [ "$status" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|invariant broken' "$log"; then
    verdict=FAILED
    failed=1
    echo "---- fuzz_$h failed (status $status); end of its log:" >&2
    tail -60 "$log" >&2
  fi
  summary+=("$(printf '%-8s %12s %7s %7s %7s  %s' "$h" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$units" "$verdict")")
done

printf '\n%-8s %12s %7s %7s %7s  %s\n' harness executions cov ft corpus result
printf '%s\n' "${summary[@]}"
exit $failed

#!/usr/bin/env bash
# Throughput and peak memory of velcorin2 on a synthetic proteome, side by
# side with ncoils (Debian package ncoils) on the same input: the whole
# program with the table written to a file, on 1 and 2 threads; a
# regions-only run, and what --summary and --html add to it; peak memory at a tenth of the input and at all of it;
# then the Python package's predict_fasta with regions only beside the
# regions-only run, and the split between reading, scoring and formatting.
#   bash bench/run.sh [residues]      (default 10,000,000)
#   BASELINE=/path/to/another/velcorin2 bash bench/run.sh   (also that build,
#     run alternately with this one on the table and regions-only runs)
# Each velcorin2 figure is the best of 3 runs (the least disturbed by other
# work on the machine); run it on an idle machine.  The files go to a memory
# file system when there is one (/dev/shm): a disk's write-back of earlier
# runs' tables would otherwise stall later runs at random.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000000}
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S . -B build >/dev/null && cmake --build build -j "$(nproc)" --target velcorin2 bench_split >/dev/null
# The Python module in the build tree, when pybind11 was found.
python=""
if cmake --build build --target help | grep velcorin2_python >/dev/null; then
  cmake --build build -j "$(nproc)" --target velcorin2_python >/dev/null && python=/usr/bin/python3
fi
python3 bench/make_proteome.py "$n" >"$work/big.fa"
python3 bench/make_proteome.py $((n / 10)) >"$work/small.fa"
read -r d1 d2 d3 _ <<<"$(sed -n 's/^lib *= *//p' data/velcorin2.conf)"
res=$(grep -v '^>' "$work/big.fa" | tr -d '\n' | wc -c)
echo "input: $res residues in $(grep -c '^>' "$work/big.fa") records (distances $d1 $d2 $d3, $(nproc) cores)"

# best <label> <runs> <command...>: prints "label wall cpu peak_kb", the run with the least wall time.
best() {
  local label=$1 runs=$2 line top=""
  shift 2
  for ((i = 0; i < runs; i++)); do
    rm -f "$work"/out.*
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>&1
    read -r e u s m <"$work/time"
    line="$e $(awk -v u="$u" -v s="$s" 'BEGIN { printf "%.2f", u + s }') $m"
    if [ -z "$top" ] || awk -v a="$e" -v b="${top%% *}" 'BEGIN { exit !(a < b) }'; then top=$line; fi
  done
  echo "$label $top"
}
export VELCORIN_CONFIG=/nonexistent
V=(build/velcorin2)
M=("$d1" "$d2" "$d3" data/genfreq.dat data/posfreq.dat)
logs=("$work/out.coil" "$work/out.seq")
read -r _ w1 c1 m1 < <(best t1 3 "${V[@]}" "${M[@]}" "$work/big.fa" "$work/out.txt" "${logs[@]}")
read -r _ w2 c2 m2 < <(best t2 3 "${V[@]}" --threads 2 "${M[@]}" "$work/big.fa" "$work/out.txt" "${logs[@]}")
read -r _ _ _ ms < <(best small 3 "${V[@]}" "${M[@]}" "$work/small.fa" "$work/out.txt" "${logs[@]}")
read -r _ wr cr _ < <(best regions 3 "${V[@]}" --no-table --regions "$work/out.tsv" "${M[@]}" "$work/big.fa")
read -r _ wh ch _ < <(best report 3 "${V[@]}" --no-table --regions "$work/out.tsv" --summary "$work/out.sum" \
  --html "$work/out.html" "${M[@]}" "$work/big.fa")
regions=$(($(wc -l <"$work/out.tsv") - 1))
if [ -n "${BASELINE:-}" ]; then
  # Alternating runs of both builds, so that the machine's state weighs on both alike.
  for k in 1 2 3; do
    read -r _ _ cb _ < <(best base-t1 1 "$BASELINE" "${M[@]}" "$work/big.fa" "$work/out.txt" "${logs[@]}")
    read -r _ _ cn _ < <(best this-t1 1 "${V[@]}" "${M[@]}" "$work/big.fa" "$work/out.txt" "${logs[@]}")
    read -r _ _ cbr _ < <(best base-r 1 "$BASELINE" --no-table --regions "$work/out.tsv" "${M[@]}" "$work/big.fa")
    read -r _ _ cnr _ < <(best this-r 1 "${V[@]}" --no-table --regions "$work/out.tsv" "${M[@]}" "$work/big.fa")
    echo "$cb $cn $cbr $cnr"
  done >"$work/pairs"
  awk '{ b = b == "" || $1 < b ? $1 : b; n = n == "" || $2 < n ? $2 : n; br = br == "" || $3 < br ? $3 : br
         nr = nr == "" || $4 < nr ? $4 : nr }
       END { printf "baseline side by side (least cpu of 3 alternating runs): table %.2f s against this build %.2f s (%.2fx); regions only %.2f s against %.2f s (%.2fx)\n", b, n, b / n, br, nr, br / nr }' "$work/pairs"
fi
awk -v r="$res" -v w1="$w1" -v c1="$c1" -v w2="$w2" -v c2="$c2" -v wr="$wr" -v cr="$cr" 'BEGIN {
  printf "1 thread, table to a file:  %.2f s wall, %.2f s cpu: %.1f M residues/s\n", w1, c1, r / w1 / 1e6
  printf "2 threads, table to a file: %.2f s wall, %.2f s cpu: %.1f M residues/s, %.2fx 1 thread\n", w2, c2, r / w2 / 1e6, w1 / w2
  printf "regions only (--no-table --regions, 1 thread): %.2f s wall, %.2f s cpu: %.1f M residues/s\n", wr, cr, r / wr / 1e6 }'
awk -v wr="$wr" -v cr="$cr" -v wh="$wh" -v ch="$ch" 'BEGIN {
  printf "the same with --summary and --html (500 profiles): %.2f s wall, %.2f s cpu: %+.0f%% wall, %+.0f%% cpu\n",
    wh, ch, 100 * (wh / wr - 1), 100 * (ch / cr - 1) }'
echo "peak memory, 1 thread: $ms kB at $((n / 10)) residues, $m1 kB at $n residues; 2 threads: $m2 kB"
if command -v ncoils >/dev/null; then
  read -r _ wn cn _ < <(best ncoils 1 sh -c "ncoils <'$work/big.fa' >'$work/out.ncoils'")
  awk -v wn="$wn" -v cn="$cn" -v c1="$c1" -v w1="$w1" 'BEGIN {
    printf "ncoils, same input: %.2f s wall, %.2f s cpu; velcorin2 on 1 thread is %.1fx by cpu, %.1fx by wall\n", wn, cn, cn / c1, wn / w1 }'
else
  echo "ncoils: not installed (Debian package ncoils)"
fi
if [ -n "$python" ]; then
  # The same regions-only pass from Python, whole processes (interpreter start and import included).
  P=(env PYTHONPATH=build/python "$python" bench/python_regions.py "$work/big.fa")
  read -r _ wp1 cp1 _ < <(best python1 3 "${P[@]}" 1 data/genfreq.dat data/posfreq.dat "$d1" "$d2" "$d3")
  read -r _ wp2 cp2 _ < <(best python2 3 "${P[@]}" 2 data/genfreq.dat data/posfreq.dat "$d1" "$d2" "$d3")
  # In-process cpu (model and pass, no interpreter start), the least of 3.
  inner=9
  for _ in 1 2 3; do
    read -r n c < <("${P[@]}" 1 data/genfreq.dat data/posfreq.dat "$d1" "$d2" "$d3")
    [ "$n" = "$regions" ] || echo "Python: $n regions, the command line $regions"
    inner=$(awk -v a="$inner" -v b="$c" 'BEGIN { print (b < a ? b : a) }')
  done
  awk -v wr="$wr" -v cr="$cr" -v w1="$wp1" -v c1="$cp1" -v w2="$wp2" -v c2="$cp2" -v ci="$inner" 'BEGIN {
    printf "Python predict_fasta, regions only, 1 thread: %.2f s wall, %.2f s cpu: %.2fx velcorin2 --no-table --regions by cpu\n", w1, c1, c1 / cr
    printf "  (inside the interpreter, loading the model and the pass: %.2f s cpu, %.2fx)\n", ci, ci / cr
    printf "Python predict_fasta, regions only, 2 threads: %.2f s wall, %.2f s cpu: %.2fx 1 thread by wall\n", w2, c2, w1 / w2 }'
else
  echo "Python: the module is not built (Debian packages python3-dev python3-pybind11)"
fi
build/bench/bench_split data/genfreq.dat data/posfreq.dat "$work/big.fa" "$d1" "$d2" "$d3"

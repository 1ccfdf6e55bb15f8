#!/usr/bin/env bash
# Whole-program throughput and peak memory of velcorin2 on a synthetic
# proteome, the throughput of a regions-only run, plus the split between
# scoring and writing the table.
#   bash bench/run.sh [residues]      (default 10,000,000)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-10000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake -S . -B build >/dev/null && cmake --build build -j "$(nproc)" --target velcorin2 bench_split >/dev/null
python3 bench/make_proteome.py "$n" > "$work/big.fa"
python3 bench/make_proteome.py $((n / 10)) > "$work/small.fa"
conf=$(sed -n 's/^lib *= *//p' data/velcorin2.conf)
read -r d1 d2 d3 _ <<<"$conf"
run() {  # run <fasta> -> "seconds peak_kb"
  VELCORIN_CONFIG=/nonexistent /usr/bin/time -f "%e %M" -o "$work/time" \
    build/velcorin2 "$d1" "$d2" "$d3" data/genfreq.dat data/posfreq.dat "$1" "$work/out.txt" \
    "$work/coil.log" "$work/seq.log" >/dev/null 2>&1
  cat "$work/time"
}
read -r t_big m_big < <(run "$work/big.fa")
read -r t_small m_small < <(run "$work/small.fa")
res_big=$(grep -v '^>' "$work/big.fa" | tr -d '\n' | wc -c)
echo "input: $res_big residues in $(grep -c '^>' "$work/big.fa") records (distances $d1 $d2 $d3)"
awk -v t="$t_big" -v r="$res_big" 'BEGIN { printf "whole program: %.2f s, %.0f residues/s\n", t, r / t }'
echo "peak memory: ${m_small} kB at $((n / 10)) residues, ${m_big} kB at $n residues"
# Regions only: no table, one thread, as a proteome annotation runs it.  The
# run is short, so it is timed to the microsecond and repeated: best and median of 5.
times=()
for _ in 1 2 3 4 5; do
  t0=$(date +%s%N)
  VELCORIN_CONFIG=/nonexistent build/velcorin2 --no-table --regions "$work/regions.tsv" "$d1" "$d2" "$d3" \
    data/genfreq.dat data/posfreq.dat "$work/big.fa" >/dev/null 2>&1
  times+=($((($(date +%s%N) - t0) / 1000)))
done
mapfile -t times < <(printf '%s\n' "${times[@]}" | sort -n)
awk -v b="${times[0]}" -v m="${times[2]}" -v r="$res_big" -v k="$(($(wc -l <"$work/regions.tsv") - 1))" 'BEGIN {
  printf "regions only (--no-table --regions, 1 thread, %d regions): best %.3f s, %.1f M residues/s; median %.3f s, %.1f M residues/s\n",
    k, b / 1e6, r / b, m / 1e6, r / m }'
build/bench/bench_split data/genfreq.dat data/posfreq.dat "$work/big.fa" "$d1" "$d2" "$d3"

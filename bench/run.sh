#!/usr/bin/env bash
# Whole-program throughput and peak memory of velcorin2 on a synthetic
# proteome, plus the split between scoring and writing the table.
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
build/bench/bench_split data/genfreq.dat data/posfreq.dat "$work/big.fa" "$d1" "$d2" "$d3"

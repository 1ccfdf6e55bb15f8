#!/usr/bin/env python3
"""How the model's scores on background protein compare with the p-scores.

Runs velcorin2 on a FASTA file of (mostly globular) background chains and
reads the per-residue table: the best score of every residue and its
p-score.  The p-scores assume that background scores are normal with mean
-7.688 and standard deviation 8.421; this prints the mean and standard
deviation actually seen (finite scores only: residues that no window covers
score -inf), and the fraction of residues whose p-score is below 0.05 and
0.01 (5 % and 1 % if the assumption held), plus the fraction of chains with
at least one such residue.

Usage:
  python3 scripts/calibrate.py [--bin build/velcorin2] [--genfreq data/genfreq.dat]
      [--posfreq data/posfreq.dat] [--fasta data/background.fa.gz] [--lib "1 2 3"]

--lib defaults to the "lib" line of data/velcorin2.conf.  Standard library only.
"""

import argparse
import math
import os
import subprocess
import sys
import tempfile

ASSUMED_MEAN, ASSUMED_SD = -7.688, 8.421
BOUNDS = (0.05, 0.01)


def conf_lib(path):
    with open(path) as f:
        for line in f:
            if line.startswith("lib"):
                return line.split("=", 1)[1].split()
    sys.exit(f"{path}: no lib line")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default="build/velcorin2")
    ap.add_argument("--genfreq", default="data/genfreq.dat")
    ap.add_argument("--posfreq", default="data/posfreq.dat")
    ap.add_argument("--fasta", default="data/background.fa.gz")
    ap.add_argument("--lib", default=None)
    args = ap.parse_args()
    lib = args.lib.split() if args.lib else conf_lib("data/velcorin2.conf")

    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out.txt")
        cmd = [args.bin, "-f", str(len(lib))] + lib + [args.genfreq, args.posfreq, args.fasta, out,
                                                       os.path.join(work, "coil.log"),
                                                       os.path.join(work, "seq.log")]
        env = dict(os.environ, VELCORIN_CONFIG="/nonexistent")
        p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if p.returncode != 0:
            sys.exit(f"{' '.join(cmd)}: status {p.returncode}\n{p.stdout}{p.stderr}")

        n = s1 = s2 = 0.0
        uncovered = 0
        below = {b: 0 for b in BOUNDS}
        chains = 0
        hit = {b: False for b in BOUNDS}
        chain_hits = {b: 0 for b in BOUNDS}
        with open(out) as f:
            for line in f:
                if line.startswith("# Sequence Code"):
                    if chains:
                        for b in BOUNDS:
                            chain_hits[b] += hit[b]
                    chains += 1
                    hit = {b: False for b in BOUNDS}
                    continue
                if line.startswith("#"):
                    continue
                w = line.split()
                pscore = float(w[3])
                score = float(line[line.rindex("(") + 1:line.rindex(")")])
                if not math.isfinite(score):
                    uncovered += 1
                    continue
                n += 1
                s1 += score
                s2 += score * score
                for b in BOUNDS:
                    if pscore < b:
                        below[b] += 1
                        hit[b] = True
        if chains:
            for b in BOUNDS:
                chain_hits[b] += hit[b]

    mean = s1 / n
    sd = math.sqrt((s2 - n * mean * mean) / (n - 1))
    print(f"Distance classes {' '.join(lib)}; input {args.fasta}: {chains} chains scored "
          f"(>= 28 residues), {int(n)} residues with a finite score, {uncovered} not covered "
          f"by any window (-inf, left out).\n")
    print("| | mean | standard deviation |")
    print("|---|---|---|")
    print(f"| best residue scores, background | {mean:.3f} | {sd:.3f} |")
    print(f"| normal distribution of the p-scores | {ASSUMED_MEAN} | {ASSUMED_SD} |")
    print()
    print("| p-score below | residues (expected if calibrated) | chains with such a residue |")
    print("|---|---|---|")
    for b in BOUNDS:
        print(f"| {b} | {below[b] / n:.4f} ({b}) | {chain_hits[b] / chains:.4f} "
              f"({chain_hits[b]} of {chains}) |")


if __name__ == "__main__":
    main()

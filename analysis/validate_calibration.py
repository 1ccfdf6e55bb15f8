#!/usr/bin/env python3
"""How far the p-scores can be trusted: built-in tables against a calibration.

Every figure is counted from what velcorin2 prints (the table's P-score
column, the per-sequence log's "P-score =" lines), so it is what a user reads.

  split   held-out validation on the background chains.  The chains are cut
          into two fixed halves, the calibration is made on one half with
          velcorin2-counts calibrate and the other half is scored at window
          lengths 28 and 21, once with the built-in tables and once with the
          calibration.  Figures: the fraction of the test half's residues
          with a finite score whose p-score is below 0.05, 0.01 and 0.001,
          and of its scored sequences whose P-score is at least 0.95 and
          0.99.  Two split rules, each in both directions:
            strat-a / strat-b  chains ranked by their window-28 sequence
                               score (the score line of velcorin2 -v, highest
                               first, ties by file order, unscored last);
                               even ranks to a, odd ranks to b;
            even / odd         chains by their index in file order (from 0).
  tail    the upper tail of the background's residue scores: observed,
          a normal distribution of the same mean and deviation, the built-in
          table and --calib.
  loo     data/coils.pos with leave-one-out (velcorin2 -1): the fraction of
          residues with a known register (a to g) whose p-score is below
          0.05 (and 0.01, 0.001), built-in tables against --calib.
  points  the score a residue needs for p-score 0.05, 0.01, 0.001 and 0.0001
          under the built-in table and under --calib.

Usage (from the repository root, after building):
  python3 analysis/validate_calibration.py split [--bin build] [--lib "1 2 3"]
      [--genfreq data/genfreq.dat] [--posfreq data/posfreq.dat]
      [--fasta data/background.fa.gz]
  python3 analysis/validate_calibration.py tail [--calib data/calibration.dat]
  python3 analysis/validate_calibration.py loo [--calib data/calibration.dat] [--pos data/coils.pos]
  python3 analysis/validate_calibration.py points [--calib data/calibration.dat]

The report (markdown) goes to standard output.  Standard library only.
"""

import argparse
import gzip
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from evaluate_distances import read_pos  # noqa: E402  (the register-file reading rules)

ALPHAS = (0.05, 0.01, 0.001)
LEVELS = (0.95, 0.99)
NO_SCORE = -100000.0
# The relative deviation from nominal the validation accepts, per rate.
TOLERANCE = {0.05: 0.10, 0.01: 0.10, 0.001: 0.25}


def window28_rows(path):
    """(score as written, probability) of each row of a calibration file's
    window-28 residue table, in file order."""
    rows = []
    with open(path) as f:
        for line in f:
            if line.startswith("residue 21"):
                break
            w = line.split()
            if len(w) == 2 and w[1].startswith("0."):
                rows.append((w[0], float(w[1])))
    return rows


def run(cmd):
    env = dict(os.environ, VELCORIN_CONFIG="/nonexistent")  # no user configuration
    p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        sys.exit(f"{' '.join(cmd)}: status {p.returncode}\n{p.stdout}{p.stderr}")


def velcorin2(a, options, inputs, work, calib=None):
    """Runs velcorin2 with the model of `a`; returns the paths of the table,
    coil log and per-sequence log."""
    out, coil, seq = (os.path.join(work, n) for n in ("out.txt", "coil.log", "seq.log"))
    lib = a.lib.split()
    cmd = [os.path.join(a.bin, "velcorin2")] + options + (["--calib", calib] if calib else [])
    run(cmd + ["-f", str(len(lib))] + lib + [a.genfreq, a.posfreq, inputs, out, coil, seq])
    return out, coil, seq


def table_rows(path):
    """(p-score as printed, score or None for -inf) of every residue row of a table."""
    rows = []
    with open(path) as f:
        for line in f:
            if line.startswith("#"):
                continue
            score = line[line.rindex("(") + 1:line.rindex(")")].strip()
            rows.append((float(line.split()[3]), None if score == "-inf" else float(score)))
    return rows


def sequence_pscores(path):
    """P-scores of the per-sequence log as printed, of sequences with a score."""
    out, p = [], None
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line.startswith("P-score = "):
                p = float(line.split("=")[1])
            elif line.startswith("Score = "):
                if math.isfinite(float(line.split("=")[1])):
                    out.append(p)
    return out


def fmt(v, nominal):
    """A rate, its ratio to nominal and ' !' when that is outside the tolerance."""
    r = v / nominal
    ok = abs(r - 1) <= TOLERANCE[nominal] + 1e-9
    return f"{v:.5f} ({r:.2f}{'' if ok else ' !'})"


# ---- split -------------------------------------------------------------------------------

def fasta_records(path):
    """The records of a FASTA file verbatim, in file order."""
    opener = gzip.open if path.endswith(".gz") else open
    records = []
    with opener(path, "rt") as f:
        for line in f:
            if line.startswith(">"):
                records.append([])
            if records:
                records[-1].append(line)
    return ["".join(r) for r in records]


def halves(a, records, work):
    """The fixed halves: name -> set of record indexes."""
    path = os.path.join(work, "all.fa")
    with open(path, "w") as f:
        f.writelines(records)
    _, coil, _ = velcorin2(a, ["-v"], path, work)
    score = {}
    with open(coil) as f:
        for line in f:
            w = line.split()
            if len(w) >= 2 and w[0].isdigit():
                score[int(w[0]) - 1] = float(w[1])
    idx = range(len(records))
    ranked = sorted(idx, key=lambda i: (-score.get(i, NO_SCORE), i))
    rank = {i: r for r, i in enumerate(ranked)}
    return {"strat-a": {i for i in idx if rank[i] % 2 == 0}, "strat-b": {i for i in idx if rank[i] % 2 == 1},
            "even": {i for i in idx if i % 2 == 0}, "odd": {i for i in idx if i % 2 == 1}}


def write_normal(cal_dat, path, window, scores):
    """The calibration `cal_dat` with its residue table for `window` replaced
    by the normal distribution of the same mean and standard deviation as
    `scores` (made strictly rising inside (0, 1) by the same rules): the
    moment fit the calibration is compared with."""
    n = len(scores)
    mean = sum(scores) / n
    sd = math.sqrt(sum((x - mean) ** 2 for x in scores) / (n - 1))
    with open(cal_dat) as f:
        lines = f.readlines()
    at = next(i for i, line in enumerate(lines) if line.startswith(f"residue {window} ")) + 1
    unit, rows, q = 10 ** 12, 7001, []
    for i in range(rows):
        g = (i - 4000) / 100.0
        v = round(0.5 * math.erfc(-(g - mean) / sd / math.sqrt(2)) * unit)
        v = min(max(v, i + 1), unit - rows + i)
        q.append(max(v, q[-1] + 1) if q else v)
    lines[at:at + rows] = [f"{(i - 4000) / 100.0:.2f} 0.{q[i]:012d}\n" for i in range(rows)]
    with open(path, "w") as f:
        f.writelines(lines)


def measure(a, test_fa, work, calib, window):
    out, _, seq = velcorin2(a, ["-win", str(window), "-p", "0.05"], test_fa, work, calib)
    ps = [p for p, s in table_rows(out) if s is not None]
    sp = sequence_pscores(seq)
    return ([sum(p < al for p in ps) / len(ps) for al in ALPHAS],
            [sum(p >= lv for p in sp) / len(sp) for lv in LEVELS], len(ps), len(sp))


def split(a):
    records = fasta_records(a.fasta)
    with tempfile.TemporaryDirectory() as work:
        h = halves(a, records, work)
        print(f"Background {a.fasta}: {len(records)} chains; distance classes {a.lib}.  Each row: fitted "
              "on one half, measured on the other; 'normal fit' is the calibration with its residue table "
              "replaced by the normal distribution of the same mean and standard deviation.  In brackets the "
              "ratio to nominal; ' !' marks a ratio outside the target (10 % at 0.05 and 0.01, 25 % at "
              "0.001).\n")
        for window in (28, 21):
            print(f"Window length {window}:\n")
            print("| fitted on -> measured on | p-scores from | residues p < 0.05 | p < 0.01 | p < 0.001 "
                  "| sequences P >= 0.95 | P >= 0.99 | residues / sequences measured |")
            print("|---|---|---|---|---|---|---|---|")
            for cal, test in (("strat-a", "strat-b"), ("strat-b", "strat-a"), ("even", "odd"), ("odd", "even")):
                cal_fa, test_fa, cal_dat, normal_dat = (os.path.join(work, n) for n in
                                                        ("cal.fa", "test.fa", "cal.dat", "normal.dat"))
                for name, path in ((cal, cal_fa), (test, test_fa)):
                    with open(path, "w") as f:
                        f.writelines(records[i] for i in sorted(h[name]))
                run([os.path.join(a.bin, "velcorin2-counts"), "--force", "-o", cal_dat, "--distances", a.lib,
                     "calibrate", a.genfreq, a.posfreq, cal_fa])
                out, _, _ = velcorin2(a, ["-win", str(window)], cal_fa, work)
                write_normal(cal_dat, normal_dat, window, [sc for _, sc in table_rows(out) if sc is not None])
                for label, calib in (("built-in tables", None), ("normal fit", normal_dat),
                                     ("calibration", cal_dat)):
                    res, seq, nres, nseq = measure(a, test_fa, work, calib, window)
                    print(f"| {cal} -> {test} | {label} | " + " | ".join(fmt(v, al) for v, al in zip(res, ALPHAS))
                          + " | " + " | ".join(fmt(v, round(1 - lv, 2)) for v, lv in zip(seq, LEVELS))
                          + f" | {nres} / {nseq} |")
            print()
        # How much the halves themselves differ: each scored with the
        # calibration of all chains (window length 28).
        all_dat = os.path.join(work, "all.dat")
        run([os.path.join(a.bin, "velcorin2-counts"), "--force", "-o", all_dat, "--distances", a.lib,
             "calibrate", a.genfreq, a.posfreq, os.path.join(work, "all.fa")])
        print("Each half with the calibration of all chains (window length 28): how far the halves "
              "themselves differ in the tail.\n")
        print("| half | residues p < 0.05 | p < 0.01 | p < 0.001 | chains with a residue at p < 0.01 "
              "| sequences P >= 0.99 |")
        print("|---|---|---|---|---|---|")
        for name in ("strat-a", "strat-b", "even", "odd"):
            path = os.path.join(work, "test.fa")
            with open(path, "w") as f:
                f.writelines(records[i] for i in sorted(h[name]))
            out, _, seq = velcorin2(a, ["-p", "0.05"], path, work, all_dat)
            ps, chains, hit = [], 0, False
            with open(out) as f:
                for line in f:
                    if line.startswith("# Sequence Code"):
                        chains, hit = chains + hit, False
                    elif not line.startswith("#") and not line.rstrip().endswith("-inf)"):
                        ps.append(float(line.split()[3]))
                        hit = hit or ps[-1] < 0.01
            chains += hit
            sp = sequence_pscores(seq)
            print(f"| {name} | " + " | ".join(f"{sum(p < al for p in ps) / len(ps):.5f}" for al in ALPHAS)
                  + f" | {chains} | {sum(p >= 0.99 for p in sp) / len(sp):.5f} |")


# ---- loo ---------------------------------------------------------------------------------

def loo(a):
    known = {r["code"]: r["reg"] for r in read_pos(a.pos)}
    print(f"{a.pos} with leave-one-out (velcorin2 -1), distance classes {a.lib}; residues with a known "
          "register (a to g) in the scored records, and the part of them with a finite score.\n")
    print("| p-scores from | known register: p < 0.05 | p < 0.01 | p < 0.001 | finite score only: p < 0.05 "
          "| p < 0.01 | p < 0.001 | residues |")
    print("|---|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as work:
        for label, calib in (("built-in tables", None), ("calibration", a.calib)):
            out, _, _ = velcorin2(a, ["-1"], a.pos, work, calib)
            rows, code, at = [], None, 0
            with open(out) as f:
                for line in f:
                    if line.startswith("# Sequence Code: "):
                        code, at = line[17:].rstrip("\n"), 0
                    elif not line.startswith("#"):
                        score = line[line.rindex("(") + 1:line.rindex(")")].strip()
                        if "a" <= known[code][at] <= "g":
                            rows.append((float(line.split()[3]), score != "-inf"))
                        at += 1
            fin = [p for p, finite in rows if finite]
            print(f"| {label} | " + " | ".join(f"{sum(p < al for p, _ in rows) / len(rows):.4f}" for al in ALPHAS)
                  + " | " + " | ".join(f"{sum(p < al for p in fin) / len(fin):.4f}" for al in ALPHAS)
                  + f" | {len(rows)} ({len(fin)} finite) |")


# ---- tail --------------------------------------------------------------------------------

def tail(a):
    """The upper tail of the background's best residue scores against a
    normal distribution and against the calibration's p-scores."""
    with tempfile.TemporaryDirectory() as work:
        out, _, _ = velcorin2(a, ["--calib", a.calib], a.fasta, work)
        x, chain_best = [], []  # finite scores; the best score of each chain
        with open(out) as f:
            for line in f:
                if line.startswith("# Sequence Code"):
                    chain_best.append(-math.inf)
                elif not line.startswith("#"):
                    score = line[line.rindex("(") + 1:line.rindex(")")].strip()
                    if score != "-inf":
                        x.append(float(score))
                        chain_best[-1] = max(chain_best[-1], x[-1])
    n = len(x)
    mean = sum(x) / n
    sd = math.sqrt(sum((v - mean) ** 2 for v in x) / (n - 1))
    cal = {score: 1.0 - prob for score, prob in window28_rows(a.calib)}
    print(f"{a.fasta}, window length 28: {n} residues with a finite score (as printed, two decimals), "
          f"mean {mean:.3f}, standard deviation {sd:.3f}.  log10 of the fraction of them scoring at least t.\n")
    print("| t | residues | chains holding them | observed | normal, same mean and deviation "
          f"| built-in normal (-7.688, 8.421) | {a.calib} |")
    print("|---|---|---|---|---|---|---|")

    def lg(v):
        return f"{math.log10(v):.2f}" if v > 0 else "-"

    for t in (0, 4, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30):
        k = sum(v >= t for v in x)
        normal = 0.5 * math.erfc((t - mean) / sd / math.sqrt(2))
        builtin = 0.5 * math.erfc((t + 7.688) / 8.421 / math.sqrt(2))
        chains = sum(b >= t for b in chain_best)
        print(f"| {t} | {k} | {chains} | {lg(k / n)} | {lg(normal)} | {lg(builtin)} | {lg(cal[f'{t:.2f}'])} |")


# ---- points ------------------------------------------------------------------------------

def points(a):
    """Score needed for each p-score: the lowest grid score whose p-score
    (1 - the probability of its row) is below alpha."""
    rows = [(float(score), prob) for score, prob in window28_rows(a.calib)]
    builtin = [((i - 4000) / 100.0, float(f"{0.5 * math.erfc(-((i - 4000) / 100.0 + 7.688) / 8.421 / math.sqrt(2)):.7e}"))
               for i in range(7001)]
    print("Window length 28: the score a residue needs for a p-score below each level.\n")
    print("| p-score below | built-in table | " + a.calib + " |")
    print("|---|---|---|")
    for al in (0.05, 0.01, 0.001, 0.0001):
        need = [next((g for g, q in t if 1.0 - q < al), None) for t in (builtin, rows)]
        print(f"| {al} | " + " | ".join("-" if g is None else f"{g:.2f}" for g in need) + " |")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("what", choices=("split", "tail", "loo", "points"))
    ap.add_argument("--bin", default="build", help="folder of velcorin2 and velcorin2-counts")
    ap.add_argument("--lib", default="1 2 3", help="distance classes")
    ap.add_argument("--genfreq", default="data/genfreq.dat")
    ap.add_argument("--posfreq", default="data/posfreq.dat")
    ap.add_argument("--fasta", default="data/background.fa.gz")
    ap.add_argument("--pos", default="data/coils.pos")
    ap.add_argument("--calib", default="data/calibration.dat")
    a = ap.parse_args()
    {"split": split, "tail": tail, "loo": loo, "points": points}[a.what](a)


if __name__ == "__main__":
    main()

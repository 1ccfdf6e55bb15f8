#!/usr/bin/env python3
"""Choose the distance classes of the velcorin2 model by held-out scoring.

Every set of distance classes (class d pairs residues d+1 apart) is scored
over a register file of known coiled coils with the program itself:

  leave-one-out   velcorin2 -1 -v: each record is taken out of the PosFreq
                  counts while it is scored;
  group holdout   records that share a PDB entry or an identical stretch of
                  GROUP_KMER residues form a group; for each group a PosFreq
                  file is counted without it (velcorin2-counts posfreq) and
                  the group is scored with velcorin2 -pos -v.

Two figures per set, over the records that are scored (length >= 28):
  register  fraction of residues with a known register (a..g) whose
            predicted register (the table's register column) is the known one;
  score     mean of the score lines (-v: in register-file runs, the best
            residue score inside the stretches of given registers that are
            >= 28 long); records without such a stretch print -100000 and
            are left out (their number is reported).

Usage:
  python3 analysis/evaluate_distances.py [--bin build/velcorin2]
      [--counts build/velcorin2-counts] [--genfreq data/genfreq.dat]
      [--posfreq data/posfreq.dat] [--pos data/coils.pos] [--groups N]

--groups N runs the group holdout for the N best sets of three by
leave-one-out (plus the best set of two and of four); 0 skips it.
The report (markdown) goes to standard output.  Standard library only.
"""

import argparse
import itertools
import os
import subprocess
import sys
import tempfile

AA = "LIVMFYGAKRHEDQNSTCWP-X"   # residue letters the register-file reader knows
WINDOW_LENGTH = 28              # velcorin2's default: shorter records are not scored
GROUP_KMER = 8
NO_SCORE = -100000.0            # what the score line prints for minus infinity


# ---- register files ---------------------------------------------------------

def read_pos(path):
    """Records of a register file as dicts: code, text (the record verbatim,
    for rewriting subsets), seq (residue letters), reg (register letters or
    '.'), with the reading rules of velcorin2's register-file reader."""
    with open(path) as f:
        data = f.read()
    records = []
    at = data.find(">")
    while at >= 0:
        nl1 = data.index("\n", at)
        nl2 = data.index("\n", nl1 + 1)
        star1 = data.index("*", nl2)
        star2 = data.index("*", star1 + 1)
        code = data[at + 1:nl1]
        seq = "".join(c.upper() for c in data[nl2:star1] if c.upper() in AA)
        reg = "".join(c for c in data[star1 + 1:star2] if "a" <= c <= "z" or c == ".")
        if len(reg) != len(seq):
            sys.exit(f"{path}: record {code}: {len(seq)} residues but {len(reg)} registers")
        records.append({"code": code, "text": data[at:star2 + 1] + "\n", "seq": seq, "reg": reg})
        at = data.find(">", star2)
    return records


def pdb_id(code):
    # dc2_<pdb>, scorer_<pdb>_..., ccp_<pdb>_...
    parts = code.split("_")
    return parts[1].lower() if len(parts) > 1 else code


def similarity_groups(records):
    """Connected groups of records linked by a PDB id or a shared stretch of
    GROUP_KMER residues (stretches with X or gaps do not link)."""
    parent = list(range(len(records)))

    def find(i):
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i

    def join(i, j):
        parent[find(i)] = find(j)

    first_seen = {}
    for i, r in enumerate(records):
        keys = {"pdb:" + pdb_id(r["code"])}
        s = r["seq"]
        keys.update(s[k:k + GROUP_KMER] for k in range(len(s) - GROUP_KMER + 1)
                    if "X" not in s[k:k + GROUP_KMER] and "-" not in s[k:k + GROUP_KMER])
        for key in keys:
            if key in first_seen:
                join(i, first_seen[key])
            else:
                first_seen[key] = i
    groups = {}
    for i in range(len(records)):
        groups.setdefault(find(i), []).append(i)
    return sorted(groups.values())


# ---- running velcorin2 ------------------------------------------------------

def run(cmd):
    env = dict(os.environ, VELCORIN_CONFIG="/nonexistent")  # no user configuration
    p = subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if p.returncode != 0:
        sys.exit(f"{' '.join(cmd)}: status {p.returncode}\n{p.stdout}{p.stderr}")


def score_run(binary, dists, genfreq, posfreq, posfile, work, leave_one_out):
    """Runs velcorin2 on a register file; returns {code: predicted registers}
    and {code: score line value}."""
    out, log = os.path.join(work, "out.txt"), os.path.join(work, "coil.log")
    mode = "-1" if leave_one_out else "-pos"
    run([binary, mode, "-v", "-f", str(len(dists))] + [str(d) for d in dists] +
        [genfreq, posfreq, posfile, out, log, os.path.join(work, "seq.log")])
    predicted, code = {}, None
    with open(out) as f:
        for line in f:
            if line.startswith("# Sequence Code: "):
                code = line[17:].rstrip("\n")
                predicted[code] = []
            elif not line.startswith("#"):
                predicted[code].append(line.split()[2])
    scores = {}
    with open(log) as f:
        for line in f:
            w = line.split(None, 3)
            if len(w) >= 3 and w[0].isdigit():
                scores[w[2]] = float(w[1])
    return predicted, scores


class Tally:
    def __init__(self):
        self.known = self.right = self.records = self.excluded = 0
        self.score_sum = 0.0

    def add(self, records, predicted, scores):
        for r in records:
            if len(r["seq"]) < WINDOW_LENGTH:
                continue
            pred = predicted[r["code"]]
            assert len(pred) == len(r["seq"]), r["code"]
            for known, got in zip(r["reg"], pred):
                if "a" <= known <= "g":
                    self.known += 1
                    self.right += known == got
            if scores[r["code"]] <= NO_SCORE:
                self.excluded += 1
            else:
                self.records += 1
                self.score_sum += scores[r["code"]]

    def register(self):
        return self.right / self.known

    def score(self):
        return self.score_sum / self.records


# ---- the evaluations --------------------------------------------------------

def leave_one_out(args, records, sets, work):
    results = {}
    for dists in sets:
        t = Tally()
        t.add(records, *score_run(args.bin, dists, args.genfreq, args.posfreq, args.pos, work, True))
        results[dists] = t
    return results


def group_holdout(args, records, sets, work):
    results = {dists: Tally() for dists in sets}
    groups = [g for g in similarity_groups(records)
              if any(len(records[i]["seq"]) >= WINDOW_LENGTH for i in g)]
    rest_pos, rest_dat = os.path.join(work, "rest.pos"), os.path.join(work, "rest.dat")
    group_pos = os.path.join(work, "group.pos")
    for g in groups:
        members = set(g)
        with open(rest_pos, "w") as f:
            f.writelines(r["text"] for i, r in enumerate(records) if i not in members)
        with open(group_pos, "w") as f:
            f.writelines(records[i]["text"] for i in g)
        run([args.counts, "--force", "-o", rest_dat, "posfreq", rest_pos])
        for dists in sets:
            predicted, scores = score_run(args.bin, dists, args.genfreq, rest_dat, group_pos, work, False)
            results[dists].add([records[i] for i in g], predicted, scores)
    return results, groups


def table(results, order, note=""):
    lines = ["| distance classes (residues apart) | register correct | mean best score | records scored (excluded) |",
             "|---|---|---|---|"]
    for dists in order:
        t = results[dists]
        apart = ", ".join(str(d + 1) for d in dists)
        lines.append(f"| {' '.join(map(str, dists))} ({apart}) | {t.register():.4f} | {t.score():.3f} "
                     f"| {t.records} ({t.excluded}) |")
    return "\n".join(lines) + ("\n\n" + note if note else "") + "\n"


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--bin", default="build/velcorin2")
    ap.add_argument("--counts", default="build/velcorin2-counts")
    ap.add_argument("--genfreq", default="data/genfreq.dat")
    ap.add_argument("--posfreq", default="data/posfreq.dat")
    ap.add_argument("--pos", default="data/coils.pos")
    ap.add_argument("--groups", type=int, default=5)
    args = ap.parse_args()

    records = read_pos(args.pos)
    scored = [r for r in records if len(r["seq"]) >= WINDOW_LENGTH]
    by_size = {k: list(itertools.combinations(range(7), k)) for k in (2, 3, 4)}
    rank = lambda res: sorted(res, key=lambda d: (-res[d].register(), -res[d].score()))

    with tempfile.TemporaryDirectory() as work:
        loo = leave_one_out(args, records, [d for k in (2, 3, 4) for d in by_size[k]], work)
        best = {k: rank({d: loo[d] for d in by_size[k]}) for k in (2, 3, 4)}
        print(f"Leave-one-out over {args.pos}: {len(records)} records, {len(scored)} of them "
              f"scored (>= {WINDOW_LENGTH} residues), "
              f"{sum(c in 'abcdefg' for r in scored for c in r['reg'])} residues with a known register "
              f"in the scored records.\n")
        print("All 35 sets of three, best first:\n")
        print(table(loo, best[3]))
        print("The five best sets of two and of four:\n")
        print(table(loo, best[2][:5] + best[4][:5]))
        if args.groups > 0:
            shortlist = best[3][:args.groups] + [best[2][0], best[4][0]]
            grp, groups = group_holdout(args, records, shortlist, work)
            sizes = [len(g) for g in groups]
            print(f"Group holdout: {len(groups)} groups that hold a scored record "
                  f"(records linked by a PDB id or an identical {GROUP_KMER}-residue stretch; "
                  f"largest group {max(sizes)} records, {sum(s > 1 for s in sizes)} groups of "
                  f"two or more), each counted out of the PosFreq file and scored with -pos:\n")
            print(table(grp, rank(grp)))


if __name__ == "__main__":
    main()

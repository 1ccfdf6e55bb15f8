#!/usr/bin/env python3
"""Oligomeric state (dimer / trimer / tetramer) of coiled-coil regions: held-out evaluation.

Every record of a register file names its state and orientation in its title
("parallel dimer coiled coil", "antiparallel tetramer", ...).  A region is the
record's residues that carry a register letter (a..g), with those registers.

The state model (see STATE MODEL below) is a naive-Bayes sum over the region:
per state and register, residue counts shrunk towards the counts of all
states, optionally with residue-pair terms between the a and d positions,
equal priors.  It is compared with two baselines:

  always dimer       predicts dimer for every region;
  logistic (a/d/e/g) multinomial logistic regression, L2-penalised, on the
                     residue composition at a, d, e and g (80 fractions),
                     once unweighted ("plain") and once with class weights
                     that make the three states weigh the same ("balanced").

Evaluation: leave one similarity group out.  Records are grouped as in
evaluate_distances.py (same PDB entry or an identical stretch of 8 residues,
transitively), so designed variants and point mutants of one protein never sit
on both sides.  For each group that holds an evaluated record (a register
segment of at least --window residues), everything is fitted on the records of
all other groups (of any length) and the group's evaluated records are
predicted.  The hyperparameters of the state model (which variant, the
shrinkage, the temperature of the probabilities) and the penalty of the
logistic regression are chosen inside each training set by grouped 5-fold
cross-validation (nested), never on the held-out group.

Reported: confusion matrix, accuracy, balanced accuracy (mean per-state
recall), per-state recall, each with a 95 % interval from a bootstrap over the
evaluated groups (fixed seed, the same resamples for every method); the same
for orientation (parallel / antiparallel).

Usage:
  python3 analysis/evaluate_states.py [--pos data/coils.pos] [--window 28]
      [--boot 2000] [--seed 1] [--predicted-registers]
      [--probabilities FILE]

--predicted-registers also evaluates the state model on the registers that
velcorin2 predicts (build/velcorin2 -pos with a PosFreq file counted without
the held-out group by build/velcorin2-counts) instead of the structure-based
ones.  --probabilities FILE writes, for every record, the probabilities that
the model fitted on all records gives its region (for checking a port).
The report (markdown) goes to standard output.  Needs numpy (Debian
python3-numpy).
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from evaluate_distances import read_pos, similarity_groups  # noqa: E402

AA20 = "LIVMFYGAKRHEDQNSTCWP"     # the order of the count tables
REGS = "abcdefg"
STATES = ("dimer", "trimer", "tetramer")
ORIENTS = ("parallel", "antiparallel")
A, B, C, D, E, F, G = range(7)
ADEG = (A, D, E, G)

INNER_FOLDS = 5
LABEL_RE = re.compile(r"\b(parallel|antiparallel) (dimer|trimer|tetramer)\b")


# ---- data ---------------------------------------------------------------------

def titles(path):
    with open(path) as f:
        lines = f.read().split("\n")
    return {lines[k][1:]: lines[k + 1] for k in range(len(lines) - 1) if lines[k].startswith(">")}


def count_record(seq, reg):
    """Singles [20][7] and pairs [20][20][7][7] of one record, counted as
    velcorin2-counts posfreq counts them: a residue counts when it is one of
    the 20 amino acids and has a register; a pair (i, j), i < j <= i + 7,
    counts while the registers from i to j continue the heptad (the run
    stops at the first j that breaks it; X and gaps inside are passed over)."""
    s1 = np.zeros((20, 7), np.int64)
    s2 = np.zeros((20, 20, 7, 7), np.int64)
    n = len(seq)
    for i in range(n):
        x, r = AA20.find(seq[i]), REGS.find(reg[i])
        if x < 0 or r < 0:
            continue
        for j in range(i + 1, min(i + 8, n)):
            q = REGS.find(reg[j])
            if q != (r + j - i) % 7:
                break
            y = AA20.find(seq[j])
            if y >= 0:
                s2[x, y, r, q] += 1
        s1[x, r] += 1
    return s1, s2


class Data:
    """Labelled records, their counts, groups and evaluation flags."""

    def __init__(self, records, title_of, window):
        self.records = records
        self.n = len(records)
        self.state = np.zeros(self.n, int)
        self.orient = np.zeros(self.n, int)
        self.seglen = np.zeros(self.n, int)
        self.s1 = np.zeros((self.n, 20, 7))
        self.s2 = {rq: np.zeros((self.n, 20, 20)) for rq in PAIR_SLICES}
        for k, r in enumerate(records):
            m = LABEL_RE.search(title_of[r["code"]])
            if not m:
                sys.exit(f"record {r['code']}: no state in the title")
            self.orient[k] = ORIENTS.index(m.group(1))
            self.state[k] = STATES.index(m.group(2))
            self.seglen[k] = max((len(x) for x in re.findall("[a-g]+", r["reg"])), default=0)
            s1, s2 = count_record(r["seq"], r["reg"])
            self.s1[k] = s1
            for (p, q), t in self.s2.items():
                t[k] = s2[:, :, p, q]
        self.groups = similarity_groups(records)
        self.gid = np.zeros(self.n, int)
        for g, members in enumerate(self.groups):
            self.gid[members] = g
        self.window = window
        self.evaluated = self.seglen >= window
        # Inner folds: the groups in a fixed pseudo-random order, dealt round robin.
        order = np.random.RandomState(12345).permutation(len(self.groups))
        self.fold_of_group = np.zeros(len(self.groups), int)
        self.fold_of_group[order] = np.arange(len(self.groups)) % INNER_FOLDS
        self.fold = self.fold_of_group[self.gid]

    def test_groups(self):
        return sorted(set(self.gid[self.evaluated].tolist()))


# ---- STATE MODEL ----------------------------------------------------------------
#
# Counts from the training records of each state s: n_s[x][r] residues x at
# register r, m_s[x][y][r][q] pairs.  Pooled over the states: n[x][r], N[r].
#
#   q[x][r]      = (n[x][r] + 1) / (N[r] + 20)                      pool, add-one
#   p_s[x][r]    = (n_s[x][r] + alpha q[x][r]) / (N_s[r] + alpha)    shrunk to the pool
#   l_s(x, r)    = ln p_s[x][r] - ln q[x][r]                         for r in the used registers
#   for each register pair (r, q) in the pair set:
#   P_s(x,y|r,q) = (m_s[x][y][r][q] + beta p_s[x][r] p_s[y][q]) / (M_s[r][q] + beta)
#   phi_s(x,y)   = ln P_s(x,y|r,q) - ln p_s[x][r] - ln p_s[y][q]
#   L_s(region)  = sum over its residues of l_s + sum over its pairs of phi_s
#   P(s|region)  = pi_s exp(tau L_s) / sum_t pi_t exp(tau L_t),   pi_s = 1/3

class Config:
    def __init__(self, regs, alpha, pairs=(), beta=0.0):
        self.regs, self.alpha, self.pairs, self.beta = tuple(regs), float(alpha), tuple(pairs), float(beta)

    def __repr__(self):
        regs = "adeg" if self.regs == ADEG else "".join(REGS[r] for r in self.regs)
        s = f"singles {regs}, alpha {self.alpha:g}"
        if self.pairs:
            names = "a-d d-a" if self.pairs == AD_PAIRS else "core" if self.pairs == CORE_PAIRS else \
                " ".join(REGS[r] + "-" + REGS[q] for r, q in self.pairs)
            s += f", pairs {names}, beta {self.beta:g}"
        return s


AD_PAIRS = ((A, D), (D, A))   # a->d three apart, d->a four apart (the next heptad's a)
# the core pairs: a-d, d-a, a-a and d-d (seven apart), g-e (five apart, the
# next heptad's e), e-e and g-g (seven apart)
CORE_PAIRS = AD_PAIRS + ((A, A), (D, D), (G, E), (E, E), (G, G))
PAIR_SLICES = CORE_PAIRS      # the register pairs any configuration uses
ALL7 = tuple(range(7))
CONFIGS = ([Config(ADEG, a) for a in (10, 30, 100, 300)] +
           [Config(ALL7, a) for a in (10, 30, 100, 300)] +
           [Config(ADEG, a, AD_PAIRS, b) for a in (10, 30, 100, 300) for b in (30, 100, 300)] +
           [Config(ADEG, a, CORE_PAIRS, b) for a in (10, 30, 100, 300) for b in (30, 100, 300)])
TAUS = (1.0, 0.5, 0.25, 0.125, 0.0625, 0.03125)


def class_counts(s1, s2, labels, k):
    """Counts of the training records by class: n [k][20][7], m {(r,q): [k][20][20]}."""
    onehot = np.eye(k)[labels].T                                              # k x n
    return (np.tensordot(onehot, s1, 1), {rq: np.tensordot(onehot, t, 1) for rq, t in s2.items()})


def tables_from_counts(counts, cfg):
    """Log-odds tables: l [k][20][7] (zero outside the used registers) and
    phi {(r,q): [k][20][20]} for the configuration's register pairs."""
    n_s, m_s = counts
    n = n_s.sum(0)
    q = (n + 1.0) / (n.sum(0) + 20.0)
    p = (n_s + cfg.alpha * q) / (n_s.sum(1, keepdims=True) + cfg.alpha)
    l = np.zeros_like(p)
    for r in cfg.regs:
        l[:, :, r] = np.log(p[:, :, r]) - np.log(q[:, r])
    phi = {}
    for r, qq in cfg.pairs:
        m = m_s[(r, qq)]
        prod = p[:, :, None, r] * p[:, None, :, qq]
        pp = (m + cfg.beta * prod) / (m.sum((1, 2))[:, None, None] + cfg.beta)
        phi[(r, qq)] = np.log(pp) - np.log(prod)
    return l, phi


def fit_tables(s1, s2, labels, k, cfg):
    """Tables of the k classes from the counts of training records
    (s1 [n][20][7], s2 {(r,q): [n][20][20]})."""
    return tables_from_counts(class_counts(s1, s2, labels, k), cfg)


def sub(s2, rows):
    return {rq: t[rows] for rq, t in s2.items()}


def region_scores(s1, s2, tables):
    """L [n][k] for regions given by their counts."""
    l, phi = tables
    L = np.einsum("nxr,kxr->nk", s1, l)
    for (r, q), t in phi.items():
        L += np.einsum("nxy,kxy->nk", s2[(r, q)], t)
    return L


def posterior(L, tau, prior=None):
    k = L.shape[1]
    logp = tau * L + (np.log(prior) if prior is not None else -np.log(k))
    logp -= logp.max(1, keepdims=True)
    p = np.exp(logp)
    return p / p.sum(1, keepdims=True)


def argmax_first(P):
    """Predicted class: the most probable; an exact tie goes to the first
    (the smaller oligomer, parallel)."""
    return np.argmax(P, 1)


def balanced_accuracy(true, pred, k):
    recalls = [np.mean(pred[true == c] == c) for c in range(k) if np.any(true == c)]
    return float(np.mean(recalls))


def balanced_logloss(true, P, k):
    return float(np.mean([-np.mean(np.log(np.maximum(P[true == c, c], 1e-300)))
                          for c in range(k) if np.any(true == c)]))


def inner_folds(data, train):
    """Per inner fold of the training records `train`: its number, the
    records it trains on and the evaluated records it holds out (a fold that
    holds out none is passed over)."""
    for f in range(INNER_FOLDS):
        tr = train & (data.fold != f)
        te = train & (data.fold == f) & data.evaluated
        if te.any():
            yield f, tr, te


def choose_config(data, labels, k, train, configs=CONFIGS, taus=TAUS, s1=None, s2=None):
    """Grouped 5-fold cross-validation inside the training records `train`
    (bool mask): the configuration with the highest balanced accuracy over the
    inner held-out evaluated records (ties: the earlier in CONFIGS), then the
    temperature with the lowest balanced log loss for it.  Records outside
    `train` are never looked at."""
    s1 = data.s1 if s1 is None else s1
    s2 = data.s2 if s2 is None else s2
    true, Ls = [], [[] for _ in configs]
    for _, tr, te in inner_folds(data, train):
        true.append(labels[te])
        counts = class_counts(s1[tr], sub(s2, tr), labels[tr], k)
        te1, te2 = s1[te], sub(s2, te)
        for c, cfg in enumerate(configs):
            Ls[c].append(region_scores(te1, te2, tables_from_counts(counts, cfg)))
    true = np.concatenate(true)
    best, best_ba = 0, -1.0
    for c in range(len(configs)):
        L = np.concatenate(Ls[c])
        ba = balanced_accuracy(true, argmax_first(posterior(L, 1.0)), k)
        if ba > best_ba + 1e-12:
            best, best_ba = c, ba
    L = np.concatenate(Ls[best])
    tau = min(taus, key=lambda t: (balanced_logloss(true, posterior(L, t), k), -t))
    return best, tau


# ---- logistic regression baseline --------------------------------------------

LAMBDAS = (0.1, 1.0, 10.0)


def composition(s1):
    """Residue fractions at a, d, e and g: n x 80 (zero where the register is empty)."""
    c = s1[:, :, list(ADEG)].astype(float)
    return (c / np.maximum(c.sum(1, keepdims=True), 1.0)).reshape(len(s1), -1)


def fit_logistic(X, y, k, lam, balanced, W=None):
    """Multinomial logistic regression by damped Newton steps; loss = sum of
    (weighted) negative log-likelihoods + lam/2 |W|^2 (intercepts free).  The
    optimum is unique, so the start W only saves iterations."""
    n, d = X.shape
    Xb = np.hstack([X, np.ones((n, 1))])
    Y = np.eye(k)[y]
    if balanced:
        cnt = np.bincount(y, minlength=k).astype(float)
        w = (n / (k * np.maximum(cnt, 1.0)))[y]
    else:
        w = np.ones(n)
    pen = np.full(d + 1, lam)
    pen[-1] = 0.0

    def loss_and_probs(W):
        Z = Xb @ W
        Z -= Z.max(1, keepdims=True)
        lse = np.log(np.exp(Z).sum(1))
        P = np.exp(Z - lse[:, None])
        return float(np.sum(w * (lse - (Z * Y).sum(1))) + 0.5 * np.sum(pen[:, None] * W * W)), P

    W = np.zeros((d + 1, k)) if W is None else W.copy()
    loss, P = loss_and_probs(W)
    for _ in range(200):
        grad = Xb.T @ ((P - Y) * w[:, None]) + pen[:, None] * W
        if np.abs(grad).max() < 1e-8:
            break
        H = np.empty((k * (d + 1), k * (d + 1)))
        for a in range(k):
            for b in range(a, k):
                h = (Xb * (w * P[:, a] * ((a == b) - P[:, b]))[:, None]).T @ Xb
                H[a * (d + 1):(a + 1) * (d + 1), b * (d + 1):(b + 1) * (d + 1)] = h
                H[b * (d + 1):(b + 1) * (d + 1), a * (d + 1):(a + 1) * (d + 1)] = h.T
        H += np.diag(np.tile(pen, k)) + 1e-9 * np.eye(k * (d + 1))
        step = np.linalg.solve(H, grad.T.reshape(-1)).reshape(k, d + 1).T
        t = 1.0
        while True:
            Wn = W - t * step
            Wn[-1] -= Wn[-1].mean()   # the intercepts are defined up to a common shift
            ln, Pn = loss_and_probs(Wn)
            if ln <= loss + 1e-12 * abs(loss) or t < 1e-6:
                break
            t *= 0.5
        W, loss, P = Wn, ln, Pn
    else:
        sys.exit("logistic regression: no convergence")
    return W


def predict_logistic(W, X):
    return np.argmax(np.hstack([X, np.ones((len(X), 1))]) @ W, 1)


def choose_lambda(data, X, labels, k, train, balanced, start):
    """The penalty with the highest balanced accuracy over grouped 5-fold
    cross-validation inside `train` (ties: the larger penalty).  `start`
    holds, per inner fold and penalty, a solution on a nearly equal training
    set to start Newton's method from (the optimum is unique, so it only saves
    iterations); it is filled on first use."""
    true, preds = [], {lam: [] for lam in LAMBDAS}
    for f, tr, te in inner_folds(data, train):
        true.append(labels[te])
        for lam in LAMBDAS:
            W = fit_logistic(X[tr], labels[tr], k, lam, balanced, start.get((f, lam)))
            start.setdefault((f, lam), W)
            preds[lam].append(predict_logistic(W, X[te]))
    true = np.concatenate(true)
    return max(LAMBDAS, key=lambda lam: (balanced_accuracy(true, np.concatenate(preds[lam]), k), -lam))


# ---- leave one group out --------------------------------------------------------

def training_mask(data, group):
    """The records a held-out group is predicted from: every other group's."""
    return data.gid != group


def heldout_state_model(data, labels, k, group, s1=None, s2=None, train=None):
    """Scores of the evaluated records of one held-out group: (record indices,
    L [n][k], probabilities, configuration index, tau).  Everything is fitted
    on `train` (default: every other group's records).  s1/s2 replace the
    counts of the held-out records only (predicted registers)."""
    if train is None:
        train = training_mask(data, group)
    c, tau = choose_config(data, labels, k, train)
    tables = fit_tables(data.s1[train], sub(data.s2, train), labels[train], k, CONFIGS[c])
    te = np.where((data.gid == group) & data.evaluated)[0]
    L = region_scores((data.s1 if s1 is None else s1)[te], sub(data.s2 if s2 is None else s2, te), tables)
    return te, L, posterior(L, tau), c, tau


def logo_state_model(data, labels, k, s1=None, s2=None):
    """Held-out predictions of the state model: {record: (probabilities, L,
    config index, tau)} for every evaluated record."""
    out = {}
    for g in data.test_groups():
        te, L, P, c, tau = heldout_state_model(data, labels, k, g, s1, s2)
        for i, prow, lrow in zip(te, P, L):
            out[int(i)] = (prow, lrow, c, tau)
    return out


def heldout_logistic(data, X, labels, k, group, balanced, start=None):
    """Predictions of the logistic regression for the evaluated records of one
    held-out group: (record indices, predicted classes, penalty)."""
    start = {} if start is None else start
    train = training_mask(data, group)
    lam = choose_lambda(data, X, labels, k, train, balanced, start)
    W = fit_logistic(X[train], labels[train], k, lam, balanced, start.get(("all", lam)))
    start.setdefault(("all", lam), W)
    te = np.where((data.gid == group) & data.evaluated)[0]
    return te, predict_logistic(W, X[te]), lam


def logo_logistic(data, labels, k, balanced):
    X = composition(data.s1)
    out, start = {}, {}
    for g in data.test_groups():
        te, pred, lam = heldout_logistic(data, X, labels, k, g, balanced, start)
        for i, p in zip(te, pred):
            out[int(i)] = (int(p), lam)
    return out


# ---- metrics and bootstrap ---------------------------------------------------------

def metrics(true, pred, k):
    conf = np.bincount(np.asarray(true) * k + np.asarray(pred), minlength=k * k).reshape(k, k)
    recall = [conf[c, c] / conf[c].sum() if conf[c].sum() else float("nan") for c in range(k)]
    return {"conf": conf, "acc": float(np.trace(conf) / conf.sum()),
            "ba": float(np.nanmean(recall)), "recall": recall}


def bootstrap(data, idx, preds, k, labels, boot, seed):
    """95 % percentile intervals of accuracy, balanced accuracy and each recall
    over resamples of the evaluated groups (the same resamples for every
    method: the generator is seeded alike)."""
    groups = data.gid[idx]
    ug = np.unique(groups)
    members = [np.where(groups == g)[0] for g in ug]
    rng = np.random.RandomState(seed)
    true = labels[idx]
    stats = {name: [] for name in preds}
    for _ in range(boot):
        pick = np.concatenate([members[j] for j in rng.randint(0, len(ug), len(ug))])
        for name, pred in preds.items():
            m = metrics(true[pick], pred[pick], k)
            stats[name].append([m["acc"], m["ba"]] + m["recall"])
    out = {}
    for name, s in stats.items():
        s = np.array(s)
        out[name] = [(float(np.nanpercentile(s[:, j], 2.5)), float(np.nanpercentile(s[:, j], 97.5)))
                     for j in range(s.shape[1])]
    return out


def paired_difference(data, idx, a, b, k, labels, boot, seed):
    """95 % interval of balanced accuracy(a) - balanced accuracy(b) over the same resamples."""
    groups = data.gid[idx]
    ug = np.unique(groups)
    members = [np.where(groups == g)[0] for g in ug]
    rng = np.random.RandomState(seed)
    true = labels[idx]
    d = []
    for _ in range(boot):
        pick = np.concatenate([members[j] for j in rng.randint(0, len(ug), len(ug))])
        d.append(metrics(true[pick], a[pick], k)["ba"] - metrics(true[pick], b[pick], k)["ba"])
    return float(np.percentile(d, 2.5)), float(np.percentile(d, 97.5))


# ---- predicted registers -------------------------------------------------------------

def predicted_register_counts(data, args):
    """Counts of every evaluated record with the registers velcorin2 predicts
    for it (table register column), the PosFreq counts made without the
    record's group.  Only the residues that carry a structure-based register
    (the region) are kept."""
    s1 = data.s1.copy()
    s2 = {rq: t.copy() for rq, t in data.s2.items()}
    env = dict(os.environ, VELCORIN_CONFIG="/nonexistent")
    with tempfile.TemporaryDirectory() as work:
        rest, dat, grp = (os.path.join(work, x) for x in ("rest.pos", "rest.dat", "group.pos"))
        out, log1, log2 = (os.path.join(work, x) for x in ("out.txt", "coil.log", "seq.log"))
        for g in data.test_groups():
            with open(rest, "w") as f:
                f.writelines(r["text"] for i, r in enumerate(data.records) if data.gid[i] != g)
            te = [i for i in range(data.n) if data.gid[i] == g and data.evaluated[i]]
            with open(grp, "w") as f:
                f.writelines(data.records[i]["text"] for i in te)
            subprocess.run([args.counts, "--force", "-o", dat, "posfreq", rest], env=env, check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            win = ["-win", "21"] if data.window < 28 else []
            subprocess.run([args.bin, "-pos"] + win + ["-f", "3", "1", "2", "3", args.genfreq, dat, grp,
                                                       out, log1, log2],
                           env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            pred, code = {}, None
            with open(out) as f:
                for line in f:
                    if line.startswith("# Sequence Code: "):
                        code = line[17:].rstrip("\n")
                        pred[code] = []
                    elif not line.startswith("#") and line.strip():
                        pred[code].append(line.split()[2])
            for i in te:
                r = data.records[i]
                regs = pred[r["code"]]
                assert len(regs) == len(r["seq"]), r["code"]
                # the region: residues with a known register; their predicted registers
                reg = "".join(p if k in REGS else "." for p, k in zip(regs, r["reg"]))
                c1, c2 = count_record(r["seq"], reg)
                s1[i] = c1
                for (p, q), t in s2.items():
                    t[i] = c2[:, :, p, q]
    return s1, s2


# ---- report --------------------------------------------------------------------------

def fmt_ci(v, ci):
    return f"{v:.3f} ({ci[0]:.3f}-{ci[1]:.3f})"


def report_task(data, labels, names, preds, order, boot, seed, title):
    idx = np.array(sorted(preds[order[0]]))
    k = len(names)
    arrays = {m: np.array([preds[m][i] for i in idx]) for m in order}
    ci = bootstrap(data, idx, arrays, k, labels, boot, seed)
    true = labels[idx]
    counts = [int(np.sum(true == c)) for c in range(k)]
    gcounts = [len(set(data.gid[idx][true == c].tolist())) for c in range(k)]
    print(f"{title}: {len(idx)} records in {len(np.unique(data.gid[idx]))} groups; "
          + ", ".join(f"{names[c]} {counts[c]} ({gcounts[c]} groups)" for c in range(k)) + ".\n")
    head = "| method | accuracy | balanced accuracy | " + " | ".join(f"recall {n}" for n in names) + " |"
    print(head)
    print("|" + "---|" * (3 + k))
    res = {}
    for m in order:
        r = metrics(true, arrays[m], k)
        res[m] = (r, ci[m])
        cells = [fmt_ci(r["acc"], ci[m][0]), fmt_ci(r["ba"], ci[m][1])] + \
                [fmt_ci(r["recall"][c], ci[m][2 + c]) for c in range(k)]
        print(f"| {m} | " + " | ".join(cells) + " |")
    print()
    for m in order:
        r = res[m][0]
        print(f"Confusion, {m} (rows true, columns predicted: {', '.join(names)}): "
              + "; ".join(" ".join(str(v) for v in row) for row in r["conf"]))
    print()
    return idx, arrays, res


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(here)
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--pos", default=os.path.join(root, "data/coils.pos"))
    ap.add_argument("--window", type=int, default=28)
    ap.add_argument("--boot", type=int, default=2000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--predicted-registers", action="store_true")
    ap.add_argument("--bin", default=os.path.join(root, "build/velcorin2"))
    ap.add_argument("--counts", default=os.path.join(root, "build/velcorin2-counts"))
    ap.add_argument("--genfreq", default=os.path.join(root, "data/genfreq.dat"))
    ap.add_argument("--probabilities")
    ap.add_argument("--no-orientation", action="store_true")
    args = ap.parse_args()

    data = Data(read_pos(args.pos), titles(args.pos), args.window)
    print(f"{args.pos}: {data.n} records in {len(data.groups)} similarity groups; evaluated: the "
          f"{int(data.evaluated.sum())} records with a register segment of at least {args.window} residues. "
          f"Leave one group out; hyperparameters by grouped {INNER_FOLDS}-fold cross-validation inside "
          f"each training set; 95 % intervals from {args.boot} bootstrap resamples of the evaluated "
          f"groups (seed {args.seed}).\n")

    # states
    k = 3
    sm = logo_state_model(data, data.state, k)
    preds = {"state model": {i: int(argmax_first(v[0][None])[0]) for i, v in sm.items()}}
    # the same scores with the training-set frequencies as priors (not the shipped rule)
    preds["state model, training-frequency priors"] = {}
    for i, v in sm.items():
        train = training_mask(data, data.gid[i])
        prior = np.bincount(data.state[train], minlength=k) / train.sum()
        preds["state model, training-frequency priors"][i] = int(argmax_first(posterior(v[1][None], v[3], prior))[0])
    if args.predicted_registers:
        ps1, ps2 = predicted_register_counts(data, args)
        smp = logo_state_model(data, data.state, k, ps1, ps2)
        preds["state model, predicted registers"] = {i: int(argmax_first(v[0][None])[0]) for i, v in smp.items()}
    preds["always dimer"] = {i: 0 for i in sm}
    lr_plain = logo_logistic(data, data.state, k, False)
    lr_bal = logo_logistic(data, data.state, k, True)
    preds["logistic a/d/e/g, plain"] = {i: v[0] for i, v in lr_plain.items()}
    preds["logistic a/d/e/g, balanced"] = {i: v[0] for i, v in lr_bal.items()}
    order = list(preds)
    idx, arrays, res = report_task(data, data.state, STATES, preds, order, args.boot, args.seed,
                                   "Oligomeric state")
    ll = balanced_logloss(data.state[idx], np.array([sm[i][0] for i in idx]), k)
    print(f"State model, held-out balanced log loss of the probabilities: {ll:.3f} "
          f"(equal probabilities: {np.log(3):.3f}).")
    chosen = {}
    for v in sm.values():
        chosen[(v[2], v[3])] = chosen.get((v[2], v[3]), 0) + 1
    print("Chosen inside the training sets (records): " +
          "; ".join(f"{CONFIGS[c]}, tau {t:g}: {n}" for (c, t), n in sorted(chosen.items(), key=lambda x: -x[1])))
    lams = {}
    for name, lr in (("plain", lr_plain), ("balanced", lr_bal)):
        lams[name] = sorted({v[1] for v in lr.values()})
    print(f"Logistic penalties chosen: plain {lams['plain']}, balanced {lams['balanced']}.")
    for base in ("logistic a/d/e/g, plain", "logistic a/d/e/g, balanced", "always dimer"):
        lo, hi = paired_difference(data, idx, arrays["state model"], arrays[base], k, data.state,
                                   args.boot, args.seed)
        print(f"Balanced accuracy, state model minus {base}: "
              f"{res['state model'][0]['ba'] - res[base][0]['ba']:+.3f} (paired 95 % interval {lo:+.3f} to {hi:+.3f}).")
    sm_ci = res["state model"][1][1]
    verdict = all(sm_ci[0] > res[b][1][1][1] for b in ("always dimer", "logistic a/d/e/g, plain",
                                                        "logistic a/d/e/g, balanced"))
    print(f"\nShip rule (the state model's balanced-accuracy interval lies above every baseline's): "
          f"{'met' if verdict else 'not met'}.\n")

    # all configurations, for the record (not a choice: each one's own leave-one-group-out)
    print("Each configuration alone (fixed, no inner choice; temperature irrelevant to the prediction):\n")
    print("| configuration | accuracy | balanced accuracy | " + " | ".join(f"recall {n}" for n in STATES) + " |")
    print("|---|---|---|---|---|---|")
    tg = data.test_groups()
    for c, cfg in enumerate(CONFIGS):
        pr = {}
        for g in tg:
            train = training_mask(data, g)
            te = np.where(~train & data.evaluated)[0]
            L = region_scores(data.s1[te], sub(data.s2, te), fit_tables(data.s1[train], sub(data.s2, train),
                                                                   data.state[train], k, cfg))
            for i, p in zip(te, argmax_first(L)):
                pr[int(i)] = int(p)
        t = data.state[idx]
        m = metrics(t, np.array([pr[i] for i in idx]), k)
        print(f"| {cfg} | {m['acc']:.3f} | {m['ba']:.3f} | " + " | ".join(f"{x:.3f}" for x in m["recall"]) + " |")
    print()

    # orientation
    if not args.no_orientation:
        k2 = 2
        so = logo_state_model(data, data.orient, k2)
        po = {"orientation model": {i: int(argmax_first(v[0][None])[0]) for i, v in so.items()},
              "always parallel": {i: 0 for i in so}}
        lo_plain = logo_logistic(data, data.orient, k2, False)
        lo_bal = logo_logistic(data, data.orient, k2, True)
        po["logistic a/d/e/g, plain"] = {i: v[0] for i, v in lo_plain.items()}
        po["logistic a/d/e/g, balanced"] = {i: v[0] for i, v in lo_bal.items()}
        report_task(data, data.orient, ORIENTS, po, list(po), args.boot, args.seed, "Orientation")

    # the model fitted on all records
    all_train = np.ones(data.n, bool)
    c, tau = choose_config(data, data.state, k, all_train)
    print(f"Fitted on all records (for shipping): {CONFIGS[c]}, tau {tau:g}, priors 1/3 each.")
    if args.probabilities:
        tables = fit_tables(data.s1, data.s2, data.state, k, CONFIGS[c])
        L = region_scores(data.s1, data.s2, tables)
        P = posterior(L, tau)
        with open(args.probabilities, "w") as f:
            f.write("# code\tL_dimer\tL_trimer\tL_tetramer\tp_dimer\tp_trimer\tp_tetramer\n")
            for r, lrow, prow in zip(data.records, L, P):
                f.write(r["code"] + "\t" + "\t".join(f"{v:.17g}" for v in list(lrow) + list(prow)) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Tests of evaluate_states.py: leave one group out never scores a record with
counts that include its own group, and the model counts what the counting
tool counts.

Run: python3 analysis/test_evaluate_states.py  (or python3 -m pytest analysis/)
Needs numpy; the counting check also needs build/velcorin2-counts and is
skipped without it.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import evaluate_states as es  # noqa: E402

POS = os.path.join(ROOT, "data", "coils.pos")
COUNTS = os.path.join(ROOT, "build", "velcorin2-counts")
PLANTED = "dc2_3e7k"   # an antiparallel tetramer, 46 residues with a register


def load(extra=()):
    """The shipped records plus `extra` (record, title) pairs."""
    records = es.read_pos(POS)
    title_of = es.titles(POS)
    for r, t in extra:
        records.append(r)
        title_of[r["code"]] = t
    return es.Data(records, title_of, 28)


def planted_copy(data, code, new_code):
    i = next(k for k, r in enumerate(data.records) if r["code"] == code)
    r = dict(data.records[i])
    r["code"] = new_code
    r["text"] = r["text"].replace(">" + code, ">" + new_code, 1)
    return i, r


class PlantedDuplicate(unittest.TestCase):
    """A copy of one record under another PDB id (so only its sequence links
    it) is planted in the data."""

    @classmethod
    def setUpClass(cls):
        cls.plain = load()
        cls.i, dup = planted_copy(cls.plain, PLANTED, "dup_0zzz")
        title = es.titles(POS)[PLANTED]
        cls.planted = load([(dup, title)])
        cls.j = cls.planted.n - 1
        cls.g = int(cls.planted.gid[cls.i])

    def test_copy_joins_the_original_group(self):
        self.assertEqual(self.planted.gid[self.j], self.planted.gid[self.i])
        self.assertEqual(len(self.planted.groups), len(self.plain.groups))
        train = es.training_mask(self.planted, self.g)
        self.assertFalse(train[self.i] or train[self.j])
        # the inner folds of every other group stay where they were
        self.assertTrue(np.array_equal(self.planted.fold[:self.plain.n], self.plain.fold))

    def test_state_model_scores_unchanged_by_the_copy(self):
        d, p = self.plain, self.planted
        te0, L0, P0, c0, t0 = es.heldout_state_model(d, d.state, 3, int(d.gid[self.i]))
        te1, L1, P1, c1, t1 = es.heldout_state_model(p, p.state, 3, self.g)
        k0 = list(te0).index(self.i)
        k1 = list(te1).index(self.i)
        self.assertEqual((c0, t0), (c1, t1))
        self.assertTrue(np.array_equal(L0[k0], L1[k1]))
        # the copy is scored too, exactly like the original
        self.assertTrue(np.array_equal(L1[k1], L1[list(te1).index(self.j)]))
        self.assertAlmostEqual(float(P1[k1].sum()), 1.0, places=12)

    def test_a_leak_would_show(self):
        # leaving out the record alone keeps its copy in the counts: the
        # held-out scores move towards the record's own state
        p = self.planted
        _, L, _, _, _ = es.heldout_state_model(p, p.state, 3, self.g)
        leaky = np.ones(p.n, bool)
        leaky[self.i] = False
        te, Lk, _, _, _ = es.heldout_state_model(p, p.state, 3, self.g, train=leaky)
        row = list(te).index(self.i)
        s = p.state[self.i]
        margin = lambda x: x[s] - np.max(np.delete(x, s))
        self.assertGreater(margin(Lk[row]), margin(L[row]))

    def test_held_out_labels_are_never_read(self):
        # the held-out group's states, relabelled every possible way, change
        # neither the choice of hyperparameters nor the scores
        p = self.planted
        ref = es.heldout_state_model(p, p.state, 3, self.g)
        for shift in (1, 2):
            labels = p.state.copy()
            members = p.gid == self.g
            labels[members] = (labels[members] + shift) % 3
            got = es.heldout_state_model(p, labels, 3, self.g)
            self.assertEqual(ref[3:], got[3:])
            self.assertTrue(np.array_equal(ref[1], got[1]))
        X = es.composition(p.s1)
        ref = es.heldout_logistic(p, X, p.state, 3, self.g, True)
        labels = p.state.copy()
        labels[p.gid == self.g] = (labels[p.gid == self.g] + 1) % 3
        got = es.heldout_logistic(p, X, labels, 3, self.g, True)
        self.assertEqual(ref[2], got[2])
        self.assertTrue(np.array_equal(ref[1], got[1]))

    def test_logistic_baseline_unchanged_by_the_copy(self):
        d, p = self.plain, self.planted
        te0, pr0, lam0 = es.heldout_logistic(d, es.composition(d.s1), d.state, 3, int(d.gid[self.i]), True)
        te1, pr1, lam1 = es.heldout_logistic(p, es.composition(p.s1), p.state, 3, self.g, True)
        self.assertEqual(lam0, lam1)
        self.assertEqual(pr0[list(te0).index(self.i)], pr1[list(te1).index(self.i)])


def read_posfreq(path):
    with open(path, "rb") as f:
        data = f.read()
    head = data.index(b"\n") + 1
    v = struct.unpack(">%di" % ((len(data) - head) // 4), data[head:])
    o = 7
    s1 = np.array(v[o:o + 140]).reshape(20, 7)
    o += 140 + 49
    s2 = np.array(v[o:o + 20 * 20 * 49]).reshape(20, 20, 7, 7)
    return s1, s2


@unittest.skipUnless(os.access(COUNTS, os.X_OK), "build/velcorin2-counts not built")
class CountsAsTheCountingTool(unittest.TestCase):
    """Per state, the counts the model is fitted on are the PosFreq counts
    that velcorin2-counts writes for that state's records."""

    def test_each_state(self):
        records = es.read_pos(POS)
        title_of = es.titles(POS)
        with tempfile.TemporaryDirectory() as work:
            for state in es.STATES:
                chosen = [r for r in records if es.LABEL_RE.search(title_of[r["code"]]).group(2) == state]
                pos, dat = os.path.join(work, state + ".pos"), os.path.join(work, state + ".dat")
                with open(pos, "w") as f:
                    f.writelines(r["text"] for r in chosen)
                subprocess.run([COUNTS, "--force", "-o", dat, "posfreq", pos], check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               env=dict(os.environ, VELCORIN_CONFIG="/nonexistent"))
                t1, t2 = read_posfreq(dat)
                c1 = sum(es.count_record(r["seq"], r["reg"])[0] for r in chosen)
                c2 = sum(es.count_record(r["seq"], r["reg"])[1] for r in chosen)
                self.assertTrue(np.array_equal(t1, c1), state)
                self.assertTrue(np.array_equal(t2, c2), state)


if __name__ == "__main__":
    unittest.main()

"""Regions: the command line's at any threshold and length; what a record
that cannot be scored gives; records that pandas takes as they are."""
import math

import pandas
import pytest

import velcorin2
from conftest import cli
from test_identity import render_regions


@pytest.mark.parametrize("pscore,min_length", [(0.05, 1), (0.001, 1), (0.3, 25), (0.0, 1), (1.0, 3)])
def test_regions_at_any_threshold_are_the_command_lines(model, background, tmp_path, pscore, min_length):
    tsv = tmp_path / "r.tsv"
    cli("--no-table", "--pscore", pscore, "--min-length", min_length, "--regions", tsv, background)
    ours = "".join(render_regions(code, p.regions(pscore, min_length=min_length), p.truncated)
                   for code, _, p in model.predict_fasta(background))
    assert ours.encode() == tsv.read_bytes().split(b"\n", 1)[1]


def test_regions_as_a_data_frame(model):
    p = model.predict("MKQLEDKVEELLSKNYHLENEVARLKKLVGER" * 3 + "PGPGPGPGPG" * 4)
    frame = pandas.DataFrame(p.regions())
    assert list(frame.columns) == ["start", "end", "register", "segments", "lowest_pscore", "best_score"]
    assert frame.shape == (1, 6) and frame.start[0] == 1 and frame.end[0] < 100
    r = p.regions()[0]
    assert r.length == r.end - r.start + 1 and r.register == p.registers[0]
    assert r.best_score == p.scores[r.start - 1:r.end].max()
    assert r.lowest_pscore == p.pscores[r.start - 1:r.end].min() < 0.01
    assert p.regions(min_length=r.length + 1) == [] and p.regions(pscore=0.0) == []


def test_a_record_too_short_to_score(model):
    p = model.predict("MKQLEDKVEELLSKNYHLENEVARLKK")  # 27 residues, the window is 28
    assert not p.scored and len(p) == 27 and p.regions(1.0) == [] and p.to_table() == ""
    assert (p.scores == -math.inf).all() and (p.pscores == 1.0).all()
    assert p.registers == "abcdefg" * 3 + "abcdef" and p.sequence_score == -math.inf
    assert not p.scores.flags.writeable
    empty = model.predict("")
    assert len(empty) == 0 and empty.scores.shape == (0,) and empty.registers == ""


@pytest.mark.parametrize("kwargs", [dict(pscore=-0.1), dict(pscore=1.5), dict(pscore=math.nan), dict(min_length=0)])
def test_thresholds_outside_their_range(model, kwargs):
    with pytest.raises(ValueError):
        model.predict("A" * 40).regions(**kwargs)


def test_unknown_residues_and_prolines_are_not_scored(model):
    p = model.predict("LEEKLKA" * 6 + "XP" + "LEEKLKA" * 6)
    assert p.scores[42] == p.scores[43] == -math.inf and p.pscores[43] == 1.0 and p.sequence[42:44] == "-P"
    assert [(r.start, r.end) for r in p.regions(0.5)] == [(1, 42), (45, 86)]
    assert isinstance(p.regions()[0], velcorin2.Region)

"""Errors: each failure raises the exception a Python caller expects, with the
command line's message and exit status for the same input."""
import pytest

import velcorin2
from conftest import ROOT, cli

GEN, POS, CAL = (str(ROOT / "data" / n) for n in ("genfreq.dat", "posfreq.dat", "calibration.dat"))
SEQS = ">ok first\n" + "LEEKLKA" * 6 + "\n>bad2 second\nACDE\nFG1HK\n"


@pytest.fixture()
def files(tmp_path):
    (tmp_path / "seqs.fa").write_text(SEQS)
    (tmp_path / "cut.dat").write_bytes(open(GEN, "rb").read()[:5000])
    (tmp_path / "nolib.conf").write_text(f"genbnk = {GEN}\ncctb = {POS}\n")
    (tmp_path / "abs.conf").write_text(f"genbnk = {GEN}\ncctb = {POS}\nlib = 1 2 3\ncalib = {CAL}\n")
    (tmp_path / "old.dat").write_bytes((ROOT / "tests/cases/calib_damaged/old.dat").read_bytes())
    return tmp_path


def stream(source):
    return lambda: list(velcorin2.Model.default().predict_fasta(source))


# name: (what raises, exception class, command line args of the same failure or None, with the configuration)
CASES = {
    "missing_fasta": (stream("nothing.fa"), FileNotFoundError, ["nothing.fa", "out.txt"], True),
    "missing_counts": (lambda: velcorin2.Model("nothing.dat", POS, [1, 2, 3]), FileNotFoundError,
                       ["1", "2", "3", "nothing.dat", POS, "seqs.fa", "out.txt"], False),
    "cut_counts": (lambda: velcorin2.Model("cut.dat", POS, [1, 2, 3]), ValueError,
                   ["1", "2", "3", "cut.dat", POS, "seqs.fa", "out.txt"], False),
    "damaged_calibration": (lambda: velcorin2.Model(GEN, POS, [1, 2, 3], calibration="old.dat"), ValueError,
                            ["--calib", "old.dat", "1", "2", "3", GEN, POS, "seqs.fa", "out.txt"], False),
    "other_models_calibration": (lambda: velcorin2.Model(GEN, POS, (2, 3, 4), CAL), ValueError,
                                 ["--calib", CAL, "2", "3", "4", GEN, POS, "seqs.fa", "out.txt"], False),
    "unreadable_residue": (stream("seqs.fa"), ValueError, ["seqs.fa", "out.txt"], True),
    "read_error": (stream("/proc/self/mem"), ValueError, ["/proc/self/mem", "out.txt"], True),  # EIO at once
    "distance_9": (lambda: velcorin2.Model(GEN, POS, [1, 9]), ValueError, None, False),
    "window_25": (lambda: velcorin2.Model(GEN, POS, [1, 2], window=25), ValueError, None, False),
    "missing_config": (lambda: velcorin2.Model.from_config("none.conf"), FileNotFoundError, None, False),
    "config_without_distances": (lambda: velcorin2.Model.from_config("nolib.conf"), ValueError, None, False),
}


@pytest.mark.parametrize("name", sorted(CASES))
def test_failures_raise_the_command_lines_message(name, files, monkeypatch):
    call, kind, args, with_conf = CASES[name]
    monkeypatch.chdir(files)
    with pytest.raises(kind) as caught:
        call()
    e = caught.value
    assert isinstance(e, velcorin2.Error) and str(e).startswith(e.text.rstrip("\n").split("\n")[0])
    if args:
        run = cli(*args, cwd=files, check=False, conf=files / "abs.conf" if with_conf else None)
        assert run.stdout.decode().endswith(e.text) and run.returncode == e.status


def test_an_unreadable_residue_names_its_record_and_position(model, files):
    got = []
    with pytest.raises(velcorin2.ParseError) as caught:
        for code, _, p in model.predict_fasta(files / "seqs.fa", threads=2):
            got.append(code)
    e = caught.value
    assert got == ["ok"] and (e.record, e.code, e.position) == (2, "bad2", 7)
    assert str(e) == (f"Unable to parse input '1', line 5, column 3 of {files / 'seqs.fa'}, record bad2: FG1HK "
                      "(record 2 bad2, position 7)")
    for call, record, position in [(lambda: model.predict("MKV1"), 1, 4),
                                   (lambda: model.predict_many(["LLLL", "AC DE#"], threads=2), 2, 6)]:
        with pytest.raises(ValueError) as caught:
            call()
        assert (caught.value.record, caught.value.position) == (record, position)
        assert f"at position {position} of sequence {record}." in str(caught.value)


def test_arguments_of_the_wrong_kind(model):
    for call in [lambda: model.predict(42), lambda: model.predict_many(["AAA", 7]), lambda: model.predict_fasta(3.5)]:
        with pytest.raises(TypeError):
            call()
    for call in [lambda: model.predict_many([], threads=0), lambda: model.predict_fasta("-", threads=257),
                 lambda: model.predict_fasta("x.fa", max_length=-1)]:
        with pytest.raises(ValueError):
            call()

"""Streaming input: every kind of source gives the same records, gzip included;
memory does not grow with the input; a failing read is reported in order."""
import gzip
import io
import os
import subprocess
import sys
import warnings

import pytest

import velcorin2
from conftest import cli, first_records
from test_threads import summary

BLOCK = first_records(400)


class ReadOnly:
    """A file object with read() alone."""

    def __init__(self, data, fail_after=None):
        self.data, self.fail_after, self.at = data, fail_after, 0

    def read(self, n=-1):
        if self.fail_after is not None and self.at >= self.fail_after:
            raise OSError("the source broke")
        piece = self.data[self.at:self.at + (n if n >= 0 else len(self.data))]
        self.at += len(piece)
        return piece


@pytest.fixture(scope="module")
def block_files(tmp_path_factory):
    d = tmp_path_factory.mktemp("block")
    (d / "b.fa").write_bytes(BLOCK)
    (d / "b.fa.gz").write_bytes(gzip.compress(BLOCK))
    return d


def test_every_kind_of_source_gives_the_same_records(model, block_files):
    plain, packed = block_files / "b.fa", block_files / "b.fa.gz"
    expected = list(model.predict_fasta(plain))
    sources = [lambda: str(packed), lambda: bytes(plain), lambda: open(packed, "rb"), lambda: gzip.open(packed),
               lambda: open(plain, encoding="ascii"), lambda: io.BytesIO(packed.read_bytes()),
               lambda: ReadOnly(packed.read_bytes()), lambda: ReadOnly(BLOCK), lambda: io.StringIO(BLOCK.decode())]
    for threads in (1, 3):
        for source in sources:
            got = list(model.predict_fasta(source(), threads=threads))
            assert [(c, t) for c, t, _ in got] == [(c, t) for c, t, _ in expected]
            assert summary(p for _, _, p in got) == summary(p for _, _, p in expected)


CHILD = """import resource, sys, velcorin2
source = sys.argv[1] if sys.argv[1] != "file" else open("big.fa.gz", "rb")
n = sum(len(p.regions()) for _, _, p in velcorin2.Model.default().predict_fasta(source, threads=2))
print(n, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)"""


def test_memory_does_not_grow_with_the_input(tmp_path):
    member = gzip.compress(BLOCK, 1)
    (tmp_path / "small.fa.gz").write_bytes(member)
    (tmp_path / "big.fa.gz").write_bytes(member * 60)  # gzip members one after another: 60 times the records

    def run(source, stdin):
        with open(tmp_path / stdin, "rb") as f:
            env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(velcorin2.__file__)))
            out = subprocess.run([sys.executable, "-c", CHILD, source], stdin=f, cwd=tmp_path, check=True, env=env,
                                 capture_output=True, text=True).stdout.split()
        return int(out[0]), int(out[1])

    regions, small_kb = run("-", "small.fa.gz")
    for source in ("-", "file"):
        n, big_kb = run(source, "big.fa.gz")
        assert n == 60 * regions and big_kb - small_kb < 12_000, (source, small_kb, big_kb)


def test_a_failing_read_comes_after_the_records_before_it(model, block_files):
    for threads in (1, 2):
        got = []
        with pytest.raises(OSError, match="the source broke"):
            for code, _, _ in model.predict_fasta(ReadOnly(BLOCK, fail_after=70_000), threads=threads):
                got.append(code)
        assert 100 < len(got) < 400
    cut = block_files / "cut.fa.gz"
    cut.write_bytes((block_files / "b.fa.gz").read_bytes()[:-5000])
    with pytest.raises(ValueError) as caught:
        got = [code for code, _, _ in model.predict_fasta(cut, threads=2)]
    run = cli("--no-table", "--regions", "-", cut, check=False)
    assert run.stdout.decode().endswith(caught.value.text) and "reading from" in caught.value.text


def test_long_records_keep_the_length_limit_with_a_warning(model, tmp_path):
    (tmp_path / "long.fa").write_text(">long a long one\n" + "LEEKLKA" * 3000 + "\n>next\n" + "LEEKLKA" * 5)
    with pytest.warns(UserWarning, match="Sequence long truncated to 20000 residues"):
        (_, _, p), (_, _, q) = model.predict_fasta(tmp_path / "long.fa")
    assert len(p) == 20000 and p.truncated and not q.truncated
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        (_, _, p), _ = model.predict_fasta(tmp_path / "long.fa", max_length=0)
    assert len(p) == 21000 and not p.truncated

"""What the Python tests share: the repository, the command line to compare
with, the shipped model, and test inputs cut from the shipped data.

VELCORIN2_PROGRAM names the velcorin2 program (default build/velcorin2);
velcorin2 must import (installed, or PYTHONPATH=<build>/python)."""
import gzip
import os
import subprocess
from pathlib import Path

import pytest

import velcorin2

ROOT = Path(__file__).resolve().parents[2]
PROGRAM = os.path.abspath(os.environ.get("VELCORIN2_PROGRAM", ROOT / "build" / "velcorin2"))
CONF = ROOT / "data" / "velcorin2.conf"


def cli(*args, conf=CONF, cwd=None, check=True):
    """Runs the command line (bytes out); the shipped configuration unless conf=None."""
    env = dict(os.environ, VELCORIN_CONFIG=str(conf) if conf else "/nonexistent", HOME="/nonexistent")
    run = subprocess.run([PROGRAM, *map(str, args)], cwd=cwd or ROOT, env=env, capture_output=True)
    if check and run.returncode != 0:
        raise AssertionError(f"velcorin2 {args} failed: {run.stdout!r} {run.stderr!r}")
    return run


def first_records(n):
    """The first n records of data/background.fa.gz as FASTA bytes."""
    out, count = [], 0
    with gzip.open(ROOT / "data" / "background.fa.gz", "rb") as f:
        for line in f:
            if line.startswith(b">"):
                count += 1
                if count > n:
                    break
            out.append(line)
    return b"".join(out)


@pytest.fixture(scope="session")
def model():
    return velcorin2.Model.default()


@pytest.fixture(scope="session")
def background(tmp_path_factory):
    """The examples and the first 2,000 background records, as one plain FASTA file."""
    path = tmp_path_factory.mktemp("inputs") / "seqs.fa"
    path.write_bytes((ROOT / "examples" / "example.fa").read_bytes() + first_records(2000))
    return path

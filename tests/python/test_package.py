"""The package as installed: one version everywhere, the model inside it, help
and stubs, the README's example as written, the reference current, the
citation file well formed."""
import importlib.metadata
import os
import pydoc
import re
import subprocess
import sys

import pytest
import yaml

import velcorin2
from conftest import PROGRAM, ROOT

PACKAGE = os.path.dirname(velcorin2.__file__)


def test_one_version_everywhere():
    cmake = re.search(r"project\(velcorin2 VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
    for tool in (PROGRAM, os.path.join(os.path.dirname(PROGRAM), "velcorin2-counts")):
        out = subprocess.run([tool, "--version"], capture_output=True, text=True, check=True).stdout
        assert out.split() == [os.path.basename(tool), cmake]
    assert velcorin2.__version__ == cmake
    if "site-packages" in PACKAGE:  # installed from the wheel, not the build tree
        assert importlib.metadata.version("velcorin2") == cmake


def test_the_shipped_model_travels_inside_the_package(monkeypatch):
    for name in ("genfreq.dat", "posfreq.dat", "calibration.dat", "velcorin2.conf"):
        with open(os.path.join(PACKAGE, "data", name), "rb") as f:
            assert f.read() == (ROOT / "data" / name).read_bytes()
    m = velcorin2.Model.default()
    assert m is velcorin2.Model.default() and m.distances == (1, 2, 3) and m.window == 28 and m.prolines_break
    assert m.calibration == os.path.join(PACKAGE, "data", "calibration.dat")
    monkeypatch.chdir(ROOT)
    assert velcorin2.Model.from_config("data/velcorin2.conf").predict("LEEKLKA" * 9).scores.tobytes() == \
        m.predict("LEEKLKA" * 9).scores.tobytes()


def test_help_and_stubs_explain_the_api():
    text = pydoc.render_doc(velcorin2.Model, renderer=pydoc.plaintext)
    for word in ("predict_fasta", "predict_many", "default", "from_config", "calibration", "GIL"):
        assert word in text
    for stub in ("_velcorin2.pyi", "_region.pyi", "py.typed"):
        assert os.path.exists(os.path.join(PACKAGE, stub))
    assert "ValueError" in pydoc.render_doc(velcorin2.ParseError)


def test_the_readme_example_runs_as_written():
    readme = (ROOT / "README.md").read_text()
    section = readme.split("\n## From Python\n", 1)[1].split("\n## ", 1)[0]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    run = subprocess.run([sys.executable, "-c", code], cwd=ROOT, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "dc2_4zxq" in run.stdout


def test_the_reference_is_current():
    run = subprocess.run([sys.executable, str(ROOT / "docs" / "make_python_docs.py")], capture_output=True,
                         text=True, check=True, env=dict(os.environ, PYTHONPATH=os.path.dirname(PACKAGE)))
    assert run.stdout == (ROOT / "docs" / "python.md").read_text()


PERSON = {"family-names", "given-names", "name-particle", "name-suffix", "affiliation", "orcid", "email",
          "website", "alias"}
ENTITY = {"name", "address", "city", "country", "email", "website", "orcid", "date-start", "date-end", "location"}


def check_authors(authors, where):
    assert isinstance(authors, list) and authors, where
    for a in authors:
        keys = set(a)
        assert keys <= PERSON and "family-names" in keys or keys <= ENTITY and "name" in keys, (where, a)


def test_the_citation_file_is_well_formed():
    cff = yaml.safe_load((ROOT / "CITATION.cff").read_text())
    assert cff["cff-version"] == "1.2.0" and cff["type"] in ("software", "dataset")
    assert set(cff) <= {"cff-version", "message", "title", "authors", "type", "abstract", "keywords", "license",
                        "repository-code", "url", "version", "date-released", "references", "preferred-citation",
                        "identifiers", "contact", "commit", "doi"}
    assert isinstance(cff["message"], str) and isinstance(cff["title"], str) and cff["license"] == "GPL-3.0-or-later"
    check_authors(cff["authors"], "authors")
    for ref in cff.get("references", []):
        assert {"type", "title", "authors"} <= set(ref) and ref["type"] in ("article", "data", "software"), ref
        check_authors(ref["authors"], ref["title"])
        assert all(isinstance(ref[k], int) for k in ("year", "volume") if k in ref)
        assert "doi" not in ref or re.fullmatch(r"10\.\d{4,9}/\S+", ref["doi"])
    assert "version" not in cff, "the version is set once, in CMakeLists.txt"
    assert (ROOT / "LICENSE").read_text().startswith("                    GNU GENERAL PUBLIC LICENSE")



"""Identity with the command line: the same model and sequences give the table's
bytes when the Python results are rendered in its row format, and the regions of
its --regions file from the same run."""
import re
import urllib.parse

import pytest

import velcorin2
from conftest import ROOT, cli, first_records

ROW = "%8d       %c             %c      %8.5f    (%7.2f)\n"
HEADER = "#\n# Position  Residue      Register    P-score    ( Score )\n"


def render_table(code, title, p):
    """The command line's table of one record, from the Prediction's arrays."""
    head = (f"# Sequence Code: {code}\n" if code else "") + (f"# Sequence Name: {title}\n" if title else
                                                            "# Unnamed sequence\n") + HEADER
    rows = zip(p.sequence, p.registers, p.pscores.tolist(), p.scores.tolist())
    return head + "".join(ROW % (i + 1, r, g, ps, s) for i, (r, g, ps, s) in enumerate(rows))


def render_regions(code, regions, truncated=False):
    return "".join(f"{code}\t{r.start}\t{r.end}\t{r.length}\t{r.lowest_pscore:.4g}\t{r.best_score:.2f}\t"
                   f"{r.register}\t{r.segments}\t{'yes' if truncated else 'no'}\n" for r in regions)


# Models: the shipped one (configuration), and one from files with the built-in
# p-scores, window 21 and prolines inside segments (-win 21 -P).
MODELS = {
    "shipped": (lambda: velcorin2.Model.default(), [], True),
    "win21_P": (lambda: velcorin2.Model(ROOT / "data/genfreq.dat", str(ROOT / "data/posfreq.dat"), [1, 2, 3],
                                        prolines_break=False, window=21),
                ["-win", "21", "-P", "1", "2", "3", "data/genfreq.dat", "data/posfreq.dat"], False),
}


@pytest.mark.parametrize("name", sorted(MODELS))
@pytest.mark.parametrize("threads", [1, 2])
def test_table_and_regions_are_the_command_lines(name, threads, background, tmp_path):
    make, args, with_conf = MODELS[name]
    table, tsv = tmp_path / "out.txt", tmp_path / "regions.tsv"
    cli("--regions", tsv, *args, background, table, conf=ROOT / "data/velcorin2.conf" if with_conf else None)
    ours, regions, records = [], ["code\tstart\tend\tlength\tlowest_pscore\tbest_score\tregister\tregister_segments\ttruncated\n"], 0
    for code, title, p in make().predict_fasta(background, threads=threads):
        records += 1
        if p.scored:
            ours.append(render_table(code, title, p))
            assert p.to_table(code, title) == ours[-1]
        regions.append(render_regions(code, p.regions(), p.truncated))
    assert records == 2006
    assert "".join(ours).encode() == table.read_bytes()
    assert "".join(regions).encode() == tsv.read_bytes()


def test_predict_many_and_predict_match_the_stream(model, background):
    letters = [rec.split("\n", 1)[1] for rec in first_records(300).decode().split("\n>")]
    streamed = [p for _, _, p in model.predict_fasta(background)][6:]
    many = model.predict_many(letters, threads=2)
    assert len(many) == 300
    for i, (p, q) in enumerate(zip(many, streamed)):
        one = model.predict(letters[i]) if i % 10 == 0 else p
        assert p.scores.tobytes() == q.scores.tobytes() == one.scores.tobytes()
        assert p.registers == q.registers == one.registers
        assert p.sequence_score == q.sequence_score and p.sequence_pscore == one.sequence_pscore


def test_profiles_are_the_reports(model, tmp_path):
    """to_svg() draws what the --html report shows for the same record."""
    report = tmp_path / "r.html"
    cli("--no-table", "--html", report, ROOT / "examples/example.fa")
    shown = [urllib.parse.unquote(u) for u in re.findall(r'src="data:image/svg\+xml,([^"]*)"', report.read_text())]
    drawn = [p.to_svg().replace('"', "'") for _, _, p in model.predict_fasta(ROOT / "examples/example.fa")
             if p.regions()]
    assert shown and shown == drawn
    assert model.predict("MKQLEDKVEELLSKNYHLENEVARLKKLVGER")._repr_svg_().startswith("<svg")

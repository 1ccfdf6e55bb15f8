// prediction: the Python Prediction: one record's scores, p-scores,
// registers and regions, each computed by the library.
#include <pybind11/numpy.h>

#include <cstdio>
#include <velcorin2/report.h>
#include <velcorin2/segments.h>

#include "binding.h"

namespace velcorin2::python {

PyPrediction make_prediction(const ModelRef &m, const Sequence &seq, const Prediction &p)
{
    // Copied, not moved: the copies are made (and later freed) on the caller's
    // thread, while the scorer's threads keep reusing their own buffers; a
    // worker that allocated every record's vectors anew would grow its arena
    // record by record.
    PyPrediction out;
    out.model = m;
    out.code = seq.code;
    out.title = seq.title;
    const size_t n = size_t(seq.length);
    out.p.length = seq.length;
    out.p.scored = p.scored;
    if (p.scored) {
        out.p.score.assign(p.score.begin(), p.score.begin() + std::ptrdiff_t(n));
        out.p.offset.assign(p.offset.begin(), p.offset.begin() + std::ptrdiff_t(n));
        out.p.sequence_score = p.sequence_score;
    } else {  // predict() wrote nothing else: the unscored values throughout
        out.p.score.assign(n, NOT_SCORED);
        out.p.offset.assign(n, 0);
        out.p.sequence_score = NOT_SCORED;
    }
    out.residues.assign(seq.residues.begin(), seq.residues.begin() + std::ptrdiff_t(n));
    out.truncated = seq.truncated;
    return out;
}

namespace {

// view: a read-only float64 array over `v`, kept alive by `owner`.
py::array view(const std::vector<double> &v, const py::object &owner)
{
    py::array a(py::dtype::of<double>(), {py::ssize_t(v.size())}, {py::ssize_t(sizeof(double))}, v.data(), owner);
    a.attr("setflags")(py::arg("write") = false);
    return a;
}

const std::vector<double> &pscores_of(PyPrediction &pp)
{
    if (!pp.have_pscores) {
        residue_pscores(*pp.model->model, pp.p, pp.pscores);
        pp.have_pscores = true;
    }
    return pp.pscores;
}

// bytes_of: a str's bytes as they came from the input (undecodable bytes
// were kept as surrogates).
std::string bytes_of(const py::str &s)
{
    py::object b = py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogateescape"));
    if (!b) throw py::error_already_set();
    return b.cast<std::string>();
}

py::list regions(const PyPrediction &pp, double pscore, int32_t min_length)
{
    if (!(pscore >= 0.0 && pscore <= 1.0)) throw py::value_error("pscore must be a p-score from 0 to 1");
    if (min_length < 1) throw py::value_error("min_length must be at least 1");
    const Model &m = *pp.model->model;
    std::vector<Region> found;
    find_regions(m, pp.p, pscore, min_length, found);  // what a region is, the library decides
    py::list out;
    if (found.empty()) return out;
    py::object make = py::module_::import("velcorin2._region").attr("Region");
    std::vector<RegisterSegment> segments;
    for (const Region &r : found) {
        register_segments(pp.p, r, segments);
        std::string text;
        for (const RegisterSegment &s : segments) {
            char piece[48];
            std::snprintf(piece, sizeof piece, "%s%d-%d:%c", text.empty() ? "" : ",", s.from + 1, s.to + 1, s.reg);
            text += piece;
        }
        const char reg[2] = {register_letter(int8_t(register_of(pp.p, r.from))), '\0'};
        out.append(make(r.from + 1, r.to + 1, reg, text, lowest_pscore(m, pp.p, r), r.best));
    }
    return out;
}

std::string letters(const PyPrediction &pp, bool registers)
{
    std::string s(pp.residues.size(), ' ');
    for (size_t i = 0; i < s.size(); i++)
        s[i] = registers ? REGISTER_LETTERS[register_of(pp.p, int32_t(i))] : residue_letter(pp.residues[i]);
    return s;
}

// record_of: the record of a prediction as the writers take it.
Sequence record_of(const PyPrediction &pp, const std::string &code, const std::string &title)
{
    Sequence seq;
    code.copy(seq.code, std::min<size_t>(code.size(), NAMELEN - 1));
    title.copy(seq.title, std::min<size_t>(title.size(), NAMELEN - 1));
    seq.length = pp.p.length;
    seq.residues = pp.residues;
    return seq;
}

py::str table(const PyPrediction &pp, const py::str &code, const py::str &title)
{
    if (!pp.p.scored) return py::str("");
    const Sequence seq = record_of(pp, bytes_of(code), bytes_of(title));
    std::string out;
    write_residue_table(pp.model->model->pscores, seq, pp.p, out);
    return decode_text(out.data(), out.size());
}

// svg: the profile the HTML report shows for this record, with the record's
// own code and title unless others are given.
py::str svg(const PyPrediction &pp, double pscore, int32_t min_length, const py::object &code,
            const py::object &title)
{
    const Sequence seq = record_of(pp, code.is_none() ? pp.code : bytes_of(code.cast<py::str>()),
                                   title.is_none() ? pp.title : bytes_of(title.cast<py::str>()));
    SvgOptions o;
    o.pscore = pscore;
    o.min_length = min_length;
    std::string out;
    write_svg_profile(*pp.model->model, seq, pp.p, o, out);
    return decode_text(out.data(), out.size());
}

}  // namespace

void bind_prediction(py::module_ &mod)
{
    py::class_<PyPrediction>(mod, "Prediction", R"(The result of scoring one sequence.

Residue i has its best window score scores[i] in its best heptad register
registers[i] ('a' to 'g'); pscores[i] is the probability that a residue of ordinary
protein scores at least as high (low is coil-like).  A residue that no window covers
(a proline, an unknown residue, a segment too short, or the whole of a sequence
shorter than the model's window) has the score -inf and the p-score 1.0; its
register is that of register offset 0, as the table shows it.  len() is the
number of residues.)")
        .def_property_readonly(
            "scores", [](py::object self) { return view(self.cast<PyPrediction &>().p.score, self); },
            "Best window score per residue (read-only float64 array; -inf where unscored).")
        .def_property_readonly(
            "pscores", [](py::object self) { return view(pscores_of(self.cast<PyPrediction &>()), self); },
            "P-score per residue from the model's tables (read-only float64 array; 1.0 where unscored).")
        .def_property_readonly(
            "registers", [](const PyPrediction &pp) { return letters(pp, true); },
            "The best register per residue, one letter a-g each.")
        .def_property_readonly(
            "sequence", [](const PyPrediction &pp) { return letters(pp, false); },
            "The residues scored, one letter each, as the table shows them (an unknown residue as -).")
        .def_property_readonly(
            "sequence_score", [](const PyPrediction &pp) { return pp.p.sequence_score; },
            "The best residue score of the sequence (-inf when nothing was scored).")
        .def_property_readonly(
            "sequence_pscore",
            [](const PyPrediction &pp) { return sequence_pscore(pp.model->model->pscores, pp.p.sequence_score); },
            "The sequence score through the model's sequence table (rises with the score), "
            "as the coil report's P-score line gives it.")
        .def_property_readonly(
            "scored", [](const PyPrediction &pp) { return pp.p.scored; },
            "False for a sequence shorter than the model's window: nothing of it was scored.")
        .def_property_readonly(
            "truncated", [](const PyPrediction &pp) { return pp.truncated; },
            "True when the FASTA reader kept only the first max_length residues of the record.")
        .def("__len__", [](const PyPrediction &pp) { return pp.residues.size(); })
        .def("regions", &regions, py::arg("pscore") = 0.05, py::arg("min_length") = 1,
             R"(The coiled-coil regions: maximal runs of residues that pass the p-score threshold,
at least min_length long, as the command line's --gff3 and --regions files list them.

Returns a list of velcorin2.Region records (start, end: 1-based inclusive; register,
segments, lowest_pscore, best_score), which pandas.DataFrame takes as they are.)")
        .def("to_table", &table, py::arg("code") = "", py::arg("title") = "",
             R"(The per-residue table of the command line for this record, with its header lines
(code and title as given): the same bytes the program writes.  "" for a sequence
too short to score, for which the program writes nothing.)")
        .def("to_svg", &svg, py::arg("pscore") = 0.05, py::arg("min_length") = 1, py::arg("code") = py::none(),
             py::arg("title") = py::none(),
             R"(The SVG profile of this record, as the command line's --html report draws it:
-log10 of the residue p-scores along the sequence, the p-score threshold as a
labelled line, the regions at that threshold shaded with their register segments,
residues without a score as gaps.  code and title head it (default: the record's
own, from predict_fasta).  Returns the SVG document as a str.)")
        .def(
            "_repr_svg_", [](const PyPrediction &pp) { return svg(pp, 0.05, 1, py::none(), py::none()); },
            "The profile, for notebooks that show objects as pictures.")
        .def("__repr__", [](const PyPrediction &pp) {
            char b[96];
            std::snprintf(b, sizeof b, "<velcorin2.Prediction of %zu residues, sequence score %.2f>",
                          pp.residues.size(), pp.p.sequence_score);
            return std::string(b);
        });
}

}  // namespace velcorin2::python

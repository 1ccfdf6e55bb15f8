// model: the Python Model: loading (files, a configuration, the shipped
// model) and scoring one sequence, many, or a FASTA stream.
#include <pybind11/stl.h>

#include <velcorin2/settings.h>

#include "binding.h"

namespace velcorin2::python {

namespace {

// fspath: the bytes of the file name of a str, bytes or os.PathLike argument.
std::string fspath(const py::handle &name)
{
    py::object p = py::module_::import("os").attr("fsencode")(name);
    return p.cast<std::string>();
}

py::str name_of(const std::string &s) { return decode_text(s.data(), s.size()); }

ModelRef load(ModelRecipe recipe)
{
    auto h = std::make_shared<ModelHandle>();
    h->model = load_model(recipe);
    h->recipe = std::move(recipe);
    return h;
}

ModelRef from_files(const py::object &genfreq, const py::object &posfreq, const std::vector<int> &distances,
                    const py::object &calibration, bool prolines_break, int window)
{
    ModelRecipe recipe;
    recipe.background_counts = fspath(genfreq);
    recipe.coil_counts = fspath(posfreq);
    recipe.distances = distances;
    recipe.prolines_end_segments = prolines_break;
    recipe.shortest_segment = window;
    if (!calibration.is_none()) recipe.calibration = fspath(calibration);
    return load(std::move(recipe));
}

// config_recipe: the model a configuration file names, its relative file names
// taken from `base` (the working directory when empty, as the command line does).
ModelRecipe config_recipe(const std::string &path, const std::string &base)
{
    RunSettings s = default_settings();
    if (!read_configuration(path, s)) throw Error("Couldn't find config file " + path, ErrorCode::OPEN, false, 2);
    s.mode |= MODE_PROLINEFREE;  // the command line's default; no key changes it
    auto fail = [&](const std::string &what) {
        throw Error("the configuration " + path + " " + what, ErrorCode::USAGE, false, STATUS_ERROR);
    };
    if (!s.background_counts.given) fail("names no GenFreq file (genbnk)");
    if (!s.coil_counts.given) fail("names no PosFreq file (cctb)");
    if (s.distance_count < 1 || s.distance_count > NREG || s.distances_given < s.distance_count)
        fail("gives " + std::to_string(s.distances_given) + " of the " + std::to_string(s.distance_count) +
             " distance classes in use (lib, functnum)");
    for (FileName *f : {&s.background_counts, &s.coil_counts, &s.calibration})
        if (f->given && !base.empty() && !f->name.empty() && f->name[0] != '/' && f->name[0] != '~')
            f->name = base + "/" + f->name;
    return model_recipe(s);
}

// The shipped model: the configuration in the package's data folder, its
// names taken from the package folder (as the repository's from its root).
ModelRef shipped()
{
    static ModelRef cached;  // a model is immutable: one serves every caller
    if (cached) return cached;
    std::string so = py::module_::import("velcorin2._velcorin2").attr("__file__").cast<std::string>();
    const std::string pkg = so.substr(0, so.rfind('/'));
    cached = load(config_recipe(pkg + "/data/velcorin2.conf", pkg));
    return cached;
}

constexpr int32_t KEPT_WORKSPACE = 100000;  // residues

py::object predict_one(const ModelRef &m, const py::object &sequence)
{
    std::string_view letters;
    std::string bytes;
    if (py::isinstance<py::str>(sequence)) {
        Py_ssize_t n = 0;
        const char *s = PyUnicode_AsUTF8AndSize(sequence.ptr(), &n);
        if (!s) throw py::error_already_set();
        letters = std::string_view(s, size_t(n));
    } else if (py::isinstance<py::bytes>(sequence)) {
        bytes = sequence.cast<std::string>();
        letters = bytes;
    } else {
        throw py::type_error("a sequence is a str (or bytes) of residue letters");
    }
    Sequence seq;
    try {
        seq = sequence_from_letters("1", "", letters);
    } catch (const Error &e) {
        throw RecordError(e, 1, 0);
    }
    Prediction p;
    {
        py::gil_scoped_release nogil;
        // A thread keeps its working memory for the next call, but not that
        // of a very long sequence (about 320 bytes a residue) for good.
        static thread_local Workspace kept;
        Workspace once;
        predict(*m->model, seq, {}, seq.length <= KEPT_WORKSPACE ? kept : once, p);
    }
    return py::cast(make_prediction(m, seq, p));
}

StreamSource fasta_source(const py::object &source, int32_t max_length)
{
    if (max_length < 0) throw py::value_error("max_length must be 0 (no limit) or more");
    StreamSource src;
    src.max_length = max_length;
    if (py::isinstance<py::str>(source) || py::isinstance<py::bytes>(source) || py::hasattr(source, "__fspath__")) {
        src.path = fspath(source);
    } else if (py::hasattr(source, "read")) {
        src.kind = StreamSource::READER;
        src.reader = py::module_::import("velcorin2._inputs").attr("binary_reader")(source);
    } else {
        throw py::type_error("predict_fasta reads a file name, an os.PathLike or a file object");
    }
    return src;
}

}  // namespace

void bind_model(py::module_ &mod)
{
    py::class_<ModelHandle, std::shared_ptr<ModelHandle>>(
        mod, "Model", R"(A coiled-coil model: count tables, distance classes and p-score tables.

A model is immutable once loaded; any number of threads may score with it.

Model(genfreq, posfreq, distances, calibration=None, prolines_break=True, window=28)
    genfreq      the GenFreq (background) count file
    posfreq      the PosFreq (coiled-coil) count file
    distances    the distance classes in use (0 to 6; class d pairs residues d + 1 apart)
    calibration  a p-score calibration made for this model (velcorin2-counts calibrate);
                 None: the built-in p-score tables
    prolines_break  a proline ends a scoring segment (the command line's default; -P turns it off)
    window       the shortest scored sequence and segment, 28 or 21 (-win)

File names may be str, bytes or os.PathLike; ".gz" and ".Z" files are read through zcat.
A missing file raises FileNotFoundError, a damaged one or a calibration made for
another model ValueError, with the command line's message.)")
        .def(py::init(&from_files), py::arg("genfreq"), py::arg("posfreq"), py::arg("distances"),
             py::arg("calibration") = py::none(), py::arg("prolines_break") = true, py::arg("window") = 28)
        .def_static("default", &shipped, R"(The model shipped with velcorin2, calibrated: the package's own copy of
data/velcorin2.conf and the files it names.  Loaded once, then shared.)")
        .def_static(
            "from_config", [](const py::object &path) { return load(config_recipe(fspath(path), "")); },
            py::arg("path"),
            R"(The model a configuration file names (keys genbnk, cctb, lib, functnum, calib),
as the command line reads it: relative file names are taken from the working directory.)")
        .def_property_readonly(
            "genfreq", [](const ModelHandle &h) { return name_of(h.recipe.background_counts); },
            "The GenFreq file read.")
        .def_property_readonly(
            "posfreq", [](const ModelHandle &h) { return name_of(h.recipe.coil_counts); }, "The PosFreq file read.")
        .def_property_readonly(
            "calibration",
            [](const ModelHandle &h) -> py::object {
                if (h.recipe.calibration.empty()) return py::none();
                return name_of(h.recipe.calibration);
            },
            "The calibration file read, or None for the built-in p-score tables.")
        .def_property_readonly(
            "distances", [](const ModelHandle &h) { return py::tuple(py::cast(h.recipe.distances)); },
            "The distance classes in use.")
        .def_property_readonly(
            "prolines_break", [](const ModelHandle &h) { return h.recipe.prolines_end_segments; },
            "Whether a proline ends a scoring segment.")
        .def_property_readonly(
            "window", [](const ModelHandle &h) { return h.recipe.shortest_segment; },
            "The shortest scored sequence and segment (28 or 21).")
        .def("__repr__",
             [](const ModelHandle &h) {
                 std::string d;
                 for (int x : h.recipe.distances) d += (d.empty() ? "" : " ") + std::to_string(x);
                 return "<velcorin2.Model distances " + d + ", window " + std::to_string(h.recipe.shortest_segment) +
                        (h.recipe.calibration.empty() ? ", built-in p-scores>" : ", calibrated>");
             })
        .def(
            "predict", [](const ModelRef &m, const py::object &seq) { return predict_one(m, seq); },
            py::arg("sequence"),
            R"(Scores one sequence given as residue letters (str or bytes) and returns a Prediction.

Letters are read as in a FASTA file: either case; X, B, U, Z, O and J are unknown
residues; blanks, line ends and "(),./=" are skipped; a final "*" ends it.  Any other
character raises ValueError naming its position.  The whole sequence is scored
(no length limit); the GIL is released while scoring.)")
        .def(
            "predict_many",
            [](const ModelRef &m, const py::iterable &seqs, int threads) {
                check_threads(threads);
                StreamSource src;
                src.kind = StreamSource::LETTERS;
                src.letters = py::list(seqs);
                return collect_stream(m, std::move(src), threads);
            },
            py::arg("sequences"), py::arg("threads") = 1,
            R"(Scores every sequence (str or bytes of residue letters) and returns the list of
Predictions in the same order.  `threads` sequences are scored at once, without the
GIL; the numbers are the same with any number of threads.  An unreadable letter
raises ValueError naming the sequence (from 1) and the position.)")
        .def(
            "predict_fasta",
            [](const ModelRef &m, const py::object &source, int threads, int32_t max_length) {
                check_threads(threads);
                return open_stream(m, fasta_source(source, max_length), threads);
            },
            py::arg("source"), py::arg("threads") = 1, py::arg("max_length") = DEFAULT_MAX_LENGTH,
            R"(Scores every record of a FASTA input, yielding (code, title, Prediction) in input order.

`source` is a file name (str, bytes, os.PathLike; plain, .gz or .Z, read as the command
line reads it, "-" being standard input) or a file object (binary or text; gzip data
is recognised by its first bytes).  Records are read, scored and handed out as the
iteration goes: memory is bounded by the records in flight, not by the input.
`threads` records are scored at once, without the GIL, on worker threads.  As on the
command line, a record keeps its first `max_length` residues (0: no limit) and a
UserWarning says so.  A read error or an unreadable character raises once every
record before it was yielded; the message names the record and the position.
The iterator is also a context manager: leaving the block stops reading.)");
}

}  // namespace velcorin2::python

// binding.h: what the parts of the Python module share.
//
// Contents:
//   ModelHandle, ModelRef   a loaded model and how it was made
//   PyPrediction            the Python Prediction: one record's results
//   RecordError             a library failure with the record it happened in
//   StreamSource            what a stream of predictions reads from
//   bind_*                  each part registers its classes
//
// The module is a thin client of the library's public API: everything it
// computes, the library computes; it only converts to and from Python.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

#include <velcorin2/velcorin2.h>

namespace velcorin2::python {

namespace py = pybind11;

// A model as Python sees it: immutable, shared by every Prediction made with it.
struct ModelHandle {
    std::unique_ptr<Model> model;
    ModelRecipe recipe;  // the files, distances and settings it was loaded from
};
using ModelRef = std::shared_ptr<ModelHandle>;  // never changed once loaded

// One record's results, with the model that made them (for p-scores and regions).
struct PyPrediction {
    ModelRef model;
    Prediction p;                  // score and offset exactly `length` long
    std::vector<int8_t> residues;  // residue numbers of the record
    bool truncated = false;        // the reader kept only the first residues
    std::string code, title;       // of the record, as read (empty for a bare sequence)
    std::vector<double> pscores;   // filled on first use
    bool have_pscores = false;
};

// make_prediction: the Python Prediction of `seq` and the result `p`
// (copied); a record too short to score gets NOT_SCORED everywhere.
PyPrediction make_prediction(const ModelRef &m, const Sequence &seq, const Prediction &p);

// decode_text: a str of bytes from the input or the library; bytes that are
// not UTF-8 become surrogates, so that encoding with "surrogateescape" gives
// the bytes back.
inline py::str decode_text(const char *s, size_t n)
{
    PyObject *o = PyUnicode_DecodeUTF8(s, py::ssize_t(n), "surrogateescape");
    if (!o) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(o);
}

// RecordError: a library Error with the record it happened in (numbered from
// 1 in the input) and, where known, the residue position (from 1).
struct RecordError : Error {
    int64_t record;
    int64_t position;  // 0: not known here (the text may say it)
    std::string code;  // the record's code, when it has one
    RecordError(const Error &e, int64_t rec, int64_t pos, std::string c = "")
        : Error(e), record(rec), position(pos), code(std::move(c))
    {
    }
};

// Where a stream of predictions comes from: a file name as the command line
// takes it, an object with readinto(), or a list of sequences held in memory.
struct StreamSource {
    enum Kind { PATH, READER, LETTERS } kind = PATH;
    std::string path;
    py::object reader;  // READER: the object whose readinto() is called
    py::list letters;   // LETTERS: str or bytes items
    int32_t max_length = DEFAULT_MAX_LENGTH;
};

// open_stream: an iterator of (code, title, Prediction) over `src`, scored
// on `threads` threads, in input order.
py::object open_stream(const ModelRef &m, StreamSource src, int threads);
// collect_stream: the Predictions of every record of such a stream, in order.
py::list collect_stream(const ModelRef &m, StreamSource src, int threads);

// check_threads: ValueError unless 1 <= threads <= 256.
void check_threads(int threads);

void bind_errors(py::module_ &mod);
void bind_model(py::module_ &mod);
void bind_prediction(py::module_ &mod);
void bind_streams(py::module_ &mod);

}  // namespace velcorin2::python

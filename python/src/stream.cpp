// stream: the predictions of a stream of records (a FASTA input, or the
// sequences of a list) scored by the library's OrderedScorer and handed to
// Python in input order.
//
// The GIL is let go while the scorer works and while the caller waits for
// it; a reader thread that reads a Python file object takes it for each
// read.  So every wait on the scorer's threads happens without the GIL.
#include <cstdio>
#include <cstring>
#include <optional>
#include <velcorin2/io.h>
#include <velcorin2/parallel.h>

#include "binding.h"

namespace velcorin2::python {

namespace {

// A Python file object read through a FILE (fopencookie).
struct PyReader {
    py::object readinto;
    std::optional<py::error_already_set> error;  // what the last read raised
};

ssize_t read_cookie(void *cookie, char *buf, size_t size)
{
    auto *r = static_cast<PyReader *>(cookie);
    py::gil_scoped_acquire gil;
    try {
        py::object got = r->readinto(py::memoryview::from_memory(buf, py::ssize_t(size)));
        return got.is_none() ? 0 : got.cast<ssize_t>();
    } catch (py::error_already_set &e) {
        r->error = std::move(e);
        return -1;
    }
}

// Thrown by the source when the Python object's read failed.
struct ReadRaised {};

class PredictionStream {
public:
    PredictionStream(ModelRef m, StreamSource s, int threads) : model_(std::move(m)), src_(std::move(s))
    {
        RecordSource source;
        if (src_.kind == StreamSource::LETTERS) {
            take_letters();
            source = [this](Sequence &seq) { return next_letters(seq); };
        } else {
            open_input_stream();
            source = [this](Sequence &seq) { return next_fasta(seq); };
        }
        scorer_ = std::make_unique<OrderedScorer>(*model_->model, std::move(source), threads);
    }
    ~PredictionStream() { stop(); }
    PredictionStream(const PredictionStream &) = delete;
    PredictionStream &operator=(const PredictionStream &) = delete;

    // next: the next record's (code, title, Prediction), or its Prediction
    // alone; false once every record was handed out.
    bool next(py::object &out, bool with_names)
    {
        if (!scorer_) return false;  // stopped, or every record handed out
        // The GIL is let go below: a second thread must not step in meanwhile.
        if (busy_) throw py::value_error("the stream is being read by another thread");
        busy_ = true;
        struct Done {
            bool &b;
            ~Done() { b = false; }
        } done{busy_};
        while (pos_ == batch_.size()) {
            try {
                py::gil_scoped_release nogil;
                batch_ = scorer_->next();
            } catch (const ReadRaised &) {
                py::error_already_set e = *reader_->error;
                stop();
                throw e;
            } catch (...) {
                stop();
                throw;
            }
            pos_ = 0;
            if (batch_.empty()) {
                finish();
                return false;
            }
        }
        ScoredRecord &r = batch_[pos_++];
        if (!r.sequence.warnings.empty()) {
            std::string w = r.sequence.warnings;
            while (!w.empty() && w.back() == '\n') w.pop_back();
            if (PyErr_WarnEx(PyExc_UserWarning, w.c_str(), 1) < 0) throw py::error_already_set();
        }
        py::object p = py::cast(make_prediction(model_, r.sequence, r.prediction));
        if (!with_names)
            out = std::move(p);
        else
            out = py::make_tuple(decode_text(r.sequence.code, std::strlen(r.sequence.code)),
                                 decode_text(r.sequence.title, std::strlen(r.sequence.title)), p);
        return true;
    }

    // close: stop() for Python, refused while another thread is in next().
    void close()
    {
        if (busy_) throw py::value_error("the stream is being read by another thread");
        stop();
    }

    // stop: the threads ended and the input closed, nothing checked (GIL held).
    void stop()
    {
        batch_ = {};
        pos_ = 0;
        if (scorer_) {
            py::gil_scoped_release nogil;  // a reader thread may be waiting for the GIL
            scorer_.reset();
        }
        if (file_) {
            if (reader_)
                std::fclose(file_);
            else
                close_stream_quietly(file_);
            file_ = nullptr;
        }
        reader_.reset();
    }

private:
    ModelRef model_;
    StreamSource src_;
    FILE *file_ = nullptr;
    std::unique_ptr<PyReader> reader_;
    std::vector<std::string_view> views_;
    size_t next_view_ = 0;
    int64_t records_ = 0;  // FASTA records read (the reader's own)
    int64_t line_ = 1;     // the line of the input the reader stands at, for the place of a bad letter
    std::unique_ptr<OrderedScorer> scorer_;
    std::span<ScoredRecord> batch_;
    size_t pos_ = 0;
    bool busy_ = false;  // next() is at work

    void take_letters()
    {
        views_.reserve(src_.letters.size());
        for (const py::handle item : src_.letters) {
            char *s = nullptr;
            Py_ssize_t n = 0;
            if (PyUnicode_Check(item.ptr())) {
                s = const_cast<char *>(PyUnicode_AsUTF8AndSize(item.ptr(), &n));
                if (!s) throw py::error_already_set();
            } else if (!PyBytes_Check(item.ptr()) || PyBytes_AsStringAndSize(item.ptr(), &s, &n) != 0) {
                throw py::type_error("sequence " + std::to_string(views_.size() + 1) +
                                     " is not a str or bytes of residue letters");
            }
            views_.emplace_back(s, size_t(n));  // the list keeps every item alive
        }
    }

    bool next_letters(Sequence &seq)
    {
        if (next_view_ == views_.size()) return false;
        const size_t i = next_view_++;
        try {
            seq = sequence_from_letters(std::to_string(i + 1), "", views_[i]);
        } catch (const Error &e) {
            throw RecordError(e, int64_t(i + 1), 0);
        }
        return true;
    }

    void open_input_stream()
    {
        if (src_.kind == StreamSource::PATH) {
            file_ = open_input(src_.path.c_str());
            return;
        }
        reader_ = std::make_unique<PyReader>();
        reader_->readinto = src_.reader.attr("readinto");
        file_ = fopencookie(reader_.get(), "r", cookie_io_functions_t{read_cookie, nullptr, nullptr, nullptr});
        if (!file_) throw std::bad_alloc();
        std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);  // few calls into Python
    }

    bool next_fasta(Sequence &seq)
    {
        try {
            const bool got = read_fasta_record(file_, seq, src_.max_length, &line_);
            if (std::ferror(file_)) {
                if (reader_) throw ReadRaised{};
                check_read_error(file_);
            }
            if (got) records_++;
            return got;
        } catch (const Error &e) {
            if (e.code != ErrorCode::PARSE) throw;
            throw RecordError(e, records_ + 1, int64_t(seq.length) + 1, seq.code);
        }
    }

    // finish: the end of the input: the threads ended, the input closed and
    // checked (a compressed file whose zcat failed was not read whole).
    void finish()
    {
        {
            py::gil_scoped_release nogil;
            scorer_.reset();
        }
        FILE *f = std::exchange(file_, nullptr);
        if (f && reader_) {
            std::fclose(f);
        } else if (f) {
            close_stream(f);
        }
    }
};

}  // namespace

py::object open_stream(const ModelRef &m, StreamSource src, int threads)
{
    return py::cast(std::make_unique<PredictionStream>(m, std::move(src), threads));
}

py::list collect_stream(const ModelRef &m, StreamSource src, int threads)
{
    PredictionStream stream(m, std::move(src), threads);
    py::list out;
    py::object p;
    while (stream.next(p, false)) out.append(p);
    return out;
}

void bind_streams(py::module_ &mod)
{
    py::class_<PredictionStream>(mod, "PredictionStream", R"(The records of a FASTA input as they are scored:
an iterator of (code, title, Prediction) in input order (Model.predict_fasta makes one).
Leaving a `with` block, close() or the end of the input stops its threads and closes the input.)")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__",
             [](PredictionStream &s) {
                 py::object out;
                 if (!s.next(out, true)) throw py::stop_iteration();
                 return out;
             })
        .def("close", &PredictionStream::close, "Stops reading and scoring; the iteration ends.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PredictionStream &s, const py::args &) {
            s.close();
            return false;
        });
}

}  // namespace velcorin2::python

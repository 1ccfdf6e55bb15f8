// module: the extension module velcorin2._velcorin2, and how a library
// failure becomes a Python exception.
#include "binding.h"

namespace velcorin2::python {

namespace {

// raise_python: sets the exception that velcorin2._errors makes of `e`
// (the classes and their mapping live there, in Python, with their docs).
void raise_python(const Error &e)
{
    int64_t record = 0, position = 0;
    py::object code = py::none();
    if (const auto *r = dynamic_cast<const RecordError *>(&e)) {
        record = r->record;
        position = r->position;
        code = decode_text(r->code.data(), r->code.size());
    }
    // The text may hold any byte of the input: undecodable ones are shown escaped.
    py::object text = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(e.text.data(), py::ssize_t(e.text.size()), "backslashreplace"));
    py::object make = py::module_::import("velcorin2._errors").attr("library_error");
    py::object exc = make(int(e.code), text, e.status, e.sys_errno, record, position, code);
    PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(exc.ptr())), exc.ptr());
}

}  // namespace

void check_threads(int threads)
{
    if (threads < 1 || threads > 256) throw py::value_error("threads must be a whole number from 1 to 256");
}

void bind_errors(py::module_ &)
{
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const Error &e) {
            try {
                raise_python(e);
            } catch (py::error_already_set &inner) {
                inner.restore();  // the translation itself failed: that is what the caller sees
            }
        }
    });
}

}  // namespace velcorin2::python

PYBIND11_MODULE(_velcorin2, mod)
{
    namespace vp = velcorin2::python;
    mod.doc() = "The compiled core of velcorin2; use the velcorin2 package, which re-exports it.";
    mod.def("version", &velcorin2::version, "The library's version, the same as `velcorin2 --version` reports.");
    vp::bind_errors(mod);
    vp::bind_model(mod);
    vp::bind_prediction(mod);
    vp::bind_streams(mod);
}

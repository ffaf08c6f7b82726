#include "decoding.hpp"

#include <new>
#include <optional>
#include <utility>

namespace kav::batch {

PyObject* decode_runs(const ModuleState& state, std::span<const LineRun> runs,
                      std::size_t max_line_bytes, const Provenance& provenance) noexcept {
    using Decoded = Result<DecodedLines, DecodeLimitError>;
    std::optional<Decoded> decoded;
    PyThreadState* thread = PyEval_SaveThread();
    try {
        decoded.emplace(decode_lines(runs, provenance.first_line_number, max_line_bytes));
    } catch (const std::bad_alloc&) {
        decoded.reset();
    }
    PyEval_RestoreThread(thread);
    if (!decoded) return PyErr_NoMemory();
    if (!*decoded) {
        PyErr_SetString(PyExc_OverflowError, decoded->error().message.c_str());
        return nullptr;
    }
    try {
        return new_decoded(as_type(state.decoded_type), as_type(state.arrow_batch_type),
                           std::move(*decoded).value(), provenance)
            .release();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

bool take_provenance(PyObject* first_line_number, PyObject* source, PyObject* received_from,
                     PyObject* received_to, Provenance& out) noexcept {
    if (first_line_number != nullptr) {
        if (PyLong_Check(first_line_number) == 0 || PyBool_Check(first_line_number) != 0) {
            PyErr_Format(PyExc_TypeError, "first_line_number must be an int, not %R",
                         reinterpret_cast<PyObject*>(Py_TYPE(first_line_number)));
            return false;
        }
        out.first_line_number = PyLong_AsUnsignedLongLong(first_line_number);
        if (out.first_line_number == static_cast<unsigned long long>(-1) &&
            PyErr_Occurred() != nullptr) {
            if (PyErr_ExceptionMatches(PyExc_OverflowError) != 0) {
                PyErr_Clear();
                PyErr_Format(PyExc_ValueError,
                             "first_line_number must be from 0 to 2**64 - 1, not %R",
                             first_line_number);
            }
            return false;
        }
    }
    if (source != nullptr && source != Py_None && PyUnicode_Check(source) == 0) {
        PyErr_Format(PyExc_TypeError, "source must be a str or None, not %R",
                     reinterpret_cast<PyObject*>(Py_TYPE(source)));
        return false;
    }
    out.source = source;
    out.received_from = received_from;
    out.received_to = received_to;
    return true;
}

}  // namespace kav::batch

// write_json_lines() and write_csv_lines(): an ArrowBatch's rows written as
// text records straight to a file descriptor, with the interpreter lock
// released, so that no Python object holds the text on its way out; or, with
// None for the descriptor, returned as bytes, for threads that format batches
// which another thread writes in order.
#pragma once

#include "python_refs.hpp"

namespace kav::batch {

// write_json_lines(batch, source, fd, /) -> None, or bytes when fd is None;
// `batch_type` is the module's ArrowBatch. OSError when a write fails.
PyObject* write_json_lines(PyTypeObject* batch_type, PyObject* const* args,
                           Py_ssize_t nargs) noexcept;

// write_csv_lines(batch, source, header, fd, /) -> None, the header line
// first when `header` is true.
PyObject* write_csv_lines(PyTypeObject* batch_type, PyObject* const* args,
                          Py_ssize_t nargs) noexcept;

}  // namespace kav::batch

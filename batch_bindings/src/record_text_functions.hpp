// write_json_lines() and write_csv_lines(): an ArrowBatch's rows written as
// text records straight to a file descriptor, with the interpreter lock
// released, so that no Python object holds the text on its way out.
#pragma once

#include "python_glue.hpp"

namespace kav::batch {

// write_json_lines(batch, source, fd, /) -> None; `batch_type` is the
// module's ArrowBatch. OSError when a write fails.
PyObject* write_json_lines(PyTypeObject* batch_type, PyObject* const* args,
                           Py_ssize_t nargs) noexcept;

// write_csv_lines(batch, source, header, fd, /) -> None, the header line
// first when `header` is true.
PyObject* write_csv_lines(PyTypeObject* batch_type, PyObject* const* args,
                          Py_ssize_t nargs) noexcept;

}  // namespace kav::batch

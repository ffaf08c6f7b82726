// write_json_lines() and write_csv_lines(): an ArrowBatch's rows written as
// text records straight to a file descriptor, with the interpreter lock
// released, so that no Python object holds the text on its way out. Given two
// WriteTurns, `after` and `done`, a call writes once `after` has passed and
// then passes `done` on, so that threads rendering batches side by side write
// them in order.
#pragma once

#include "python_glue.hpp"

namespace kav::batch {

// The module's types that the functions take.
struct RecordTypes {
    PyTypeObject* arrow_batch;
    PyTypeObject* write_turn;
};

// write_json_lines(batch, source, fd, after=None, done=None, /) -> None.
// OSError when a write fails; RuntimeError, with nothing written, when
// `after` was withdrawn.
PyObject* write_json_lines(const RecordTypes& types, PyObject* const* args,
                           Py_ssize_t nargs) noexcept;

// write_csv_lines(batch, source, header, fd, after=None, done=None, /) -> None,
// the header line first when `header` is true.
PyObject* write_csv_lines(const RecordTypes& types, PyObject* const* args,
                          Py_ssize_t nargs) noexcept;

}  // namespace kav::batch

// batch_stream(): an Arrow stream over an iterator of Decoded, so that a
// consumer reads a whole file's beacons (or failures) batch by batch, in
// bounded memory, as the reader decodes them.
#pragma once

#include "python_glue.hpp"

namespace kav::batch {

// batch_stream(batches, table, /): an "arrow_array_stream" capsule whose
// batches are getattr(item, table) for each item of the iterator `batches`
// (table is "beacons" or "errors"). The consumer may pull them from any
// thread: each pull takes the interpreter lock for the iterator's next item.
PyObject* batch_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept;

}  // namespace kav::batch

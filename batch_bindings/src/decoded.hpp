// Decoded, the public result of decoding: the line counts, the two tables,
// and where the lines came from. Every path of the package returns it: a
// buffer decoded at once, each batch of a file or a stream, each batch of a
// live feed.
#pragma once

#include <memory>

#include "decode_lines.hpp"
#include "python_glue.hpp"

namespace kav::batch {

PyObject* new_decoded_type(PyObject* module) noexcept;

// The names of the line counts a Decoded has, in order, as a tuple of str:
// what running totals of them add up.
PyObject* new_count_names() noexcept;

// Where the lines came from, kept as the caller gave it: the number of the
// first line, the source's name (None or a str) and the times of the reads
// that brought them (None for input that was not received live).
struct Provenance {
    std::uint64_t first_line_number = 1;
    PyObject* source = nullptr;  // borrowed; null is None
    PyObject* received_from = nullptr;
    PyObject* received_to = nullptr;
};

// A Decoded of `type` over `lines`, whose tables are ArrowBatch objects of
// `batch_type`.
Owned new_decoded(PyTypeObject* type, PyTypeObject* batch_type, DecodedLines&& lines,
                  const Provenance& provenance);

}  // namespace kav::batch

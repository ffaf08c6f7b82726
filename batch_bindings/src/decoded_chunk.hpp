// DecodedChunk: what decode() returns for one buffer: the line counts and the
// two tables.
#pragma once

#include "decode_lines.hpp"
#include "python_glue.hpp"

namespace kav::batch {

PyObject* new_decoded_chunk_type(PyObject* module) noexcept;

// A DecodedChunk of `type` with `counts` and the two ArrowBatch objects, which
// it takes.
Owned new_decoded_chunk(PyTypeObject* type, const LineCounts& counts, Owned beacons, Owned errors);

}  // namespace kav::batch

// ArrowBatch: one decoded table, handed to any Arrow consumer through the
// PyCapsule interface (__arrow_c_schema__, __arrow_c_array__,
// __arrow_c_stream__) without the project importing one.
#pragma once

#include <memory>

#include "decode_lines.hpp"
#include "python_glue.hpp"

namespace kav::batch {

enum class Table : bool { Beacons, Errors };

PyObject* new_arrow_batch_type(PyObject* module) noexcept;

// An ArrowBatch of `type` over one table of `lines`, which it shares.
Owned new_arrow_batch(PyTypeObject* type, std::shared_ptr<const DecodedLines> lines, Table table);

}  // namespace kav::batch

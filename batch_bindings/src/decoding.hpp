// Decoding runs of lines into a Decoded, with the interpreter lock released
// so that threads decoding other input run meanwhile.
#pragma once

#include <span>

#include "decoded.hpp"
#include "line_framer.hpp"
#include "module_state.hpp"

namespace kav::batch {

// The lines of `runs` decoded; `holder` (the input's owner, or null) is only
// kept alive meanwhile by the caller. OverflowError naming the limit when the
// input is too large for one decoding, MemoryError when memory runs out.
PyObject* decode_runs(const ModuleState& state, std::span<const LineRun> runs,
                      std::size_t max_line_bytes, const Provenance& provenance) noexcept;

// The provenance arguments as a Python caller gives them: first_line_number
// (an int, 1 when null) and the rest as they are.
bool take_provenance(PyObject* first_line_number, PyObject* source, PyObject* received_from,
                     PyObject* received_to, Provenance& out) noexcept;

}  // namespace kav::batch

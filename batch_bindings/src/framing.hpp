// LineFramer and Frame: a stream's reads cut into runs of whole lines by the
// core's framer, and those runs decoded, on any thread.
//
// A reader that keeps each read until it is decoded frames it in place
// (frame()); one that reuses a single receive buffer gathers copies of the
// whole lines (push()) and takes them as one Frame when a batch is due
// (take()). Either way a Frame owns or pins what it points into, so that it
// can be decoded with the interpreter lock released, on another thread,
// after the framer has gone on to later reads.
#pragma once

#include "python_glue.hpp"

namespace kav::batch {

PyObject* new_frame_type(PyObject* module) noexcept;
PyObject* new_line_framer_type(PyObject* module) noexcept;

}  // namespace kav::batch

// The bytes a function is given, made readable without the interpreter lock.
#pragma once

#include <string_view>

#include "python_glue.hpp"

namespace kav::batch {

// `view` stays valid, and unchanged in size, while `holder` lives.
struct InputBytes {
    Owned holder;
    std::string_view view;
};

// Takes `data` for `function`'s argument:
// - exactly bytes: read in place (it never changes);
// - exactly bytearray: read in place, pinned by an export, so that resizing
//   it meanwhile fails with BufferError (as while a file writes from it);
// - any other object with the buffer protocol (memoryview, array, a subclass
//   of bytes or bytearray, whose export may be other memory than its own):
//   copied from an export held for the copy, so that what is read is exactly
//   what the object exported, and nothing can change it afterwards.
// Otherwise TypeError naming the type given. False with an exception set on
// failure.
bool take_input_bytes(PyObject* data, const char* function, InputBytes& out) noexcept;

// Narrows `out` to its first `size` bytes, `size` being a Python int (None
// keeps them all); ValueError naming both when `size` is out of range.
bool take_prefix(PyObject* size, const char* function, InputBytes& out) noexcept;

}  // namespace kav::batch

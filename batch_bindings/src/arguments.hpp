// Arguments of a METH_FASTCALL | METH_KEYWORDS function, by name.
#pragma once

#include <cstddef>
#include <span>

#include "python_glue.hpp"

namespace kav::batch {

// What a function takes: its name, its parameters' names in order, how many
// of them may be given by position (the rest only by keyword), and how many
// must be given.
struct Signature {
    const char* function;
    std::span<const char* const> names;
    std::size_t positional;
    std::size_t required;
};

// Puts each argument given into `values` (borrowed; null for one not given),
// in the order of the signature's names; TypeError, worded as the
// interpreter's own, for too many, unknown, repeated or missing arguments.
bool parse_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, std::span<PyObject*> values) noexcept;

}  // namespace kav::batch

// The module's add operation: one public name, recorded in __all__ and set as
// a module attribute.
#pragma once

#include "pending_error.hpp"

namespace kav::py {

// Appends `name` to the module's __all__ (created as a list when absent) and
// sets the attribute `name` to `object`.
PyResult<Done> add_to_module(PyObject* module, PyObject* name, PyObject* object);

}  // namespace kav::py

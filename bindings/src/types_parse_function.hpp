// The module function parse_kav_aprs_aircraft_beacon(input).
#pragma once

#include "pending_error.hpp"

namespace kav::py {

// Creates the function object for `module` and adds it under its own
// __name__, in __all__ and as a module attribute.
PyResult<Done> add_parse_function(PyObject* module);

}  // namespace kav::py

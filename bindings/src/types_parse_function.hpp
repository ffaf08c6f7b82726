// The module function parse_kav_aprs_aircraft_beacon(input).
#pragma once

#include "pending_error.hpp"

namespace kav::py {

inline constexpr const char* kParseFunctionName = "parse_kav_aprs_aircraft_beacon";

// A new function object for `module`, named kParseFunctionName.
PyResult<Ref> new_parse_function(PyObject* module);

}  // namespace kav::py

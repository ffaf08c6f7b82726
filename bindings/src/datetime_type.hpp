// The interpreter's datetime.time class, imported once per process.
//
// The limited API has no datetime C interface, so the class is fetched from
// the "datetime" module itself.
#pragma once

#include "pending_error.hpp"

namespace kav::py {

// Borrowed: the cache keeps the class alive for the life of the process.
PyResult<PyObject*> datetime_time_type();

}  // namespace kav::py

// Conversion between datetime.time and the beacon's stored time of day.
#pragma once

#include "aprs_types.hpp"
#include "pending_error.hpp"

namespace kav::py {

// The wall-clock fields of a datetime.time (or subclass); tzinfo and fold are
// dropped. A fraction of one second or more is kept only at second 59, where
// it marks a leap second.
PyResult<TimeOfDay> to_time_of_day(PyObject* object);

// A new naive datetime.time. datetime has no leap seconds: one reads back as
// second 59 with its fraction, and a UserWarning says so.
PyResult<Ref> from_time_of_day(TimeOfDay time);

}  // namespace kav::py

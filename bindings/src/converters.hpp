// Converters between Python objects and plain values, shared by every class
// and the module function, and the type-mismatch TypeError they raise.
//
// Converters do not add the "argument '<name>': " prefix themselves; the
// caller knows the name and applies PendingError::with_argument_prefix (see
// `named` in arg_matching.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "aprs_types.hpp"
#include "pending_error.hpp"

namespace kav::py {

// "'<type qualname>' object is not an instance of '<target>'", or for None
// "'None' is not an instance of '<target>'".
PendingError type_mismatch(PyObject* object, std::string_view target);
// The same, with the target named by its class's __qualname__.
PendingError type_mismatch(PyObject* object, PyObject* target_type);

// The attribute `name` of `object`; an empty Ref when the object has no such
// attribute (AttributeError), any other lookup error as a failure.
PyResult<Ref> attribute_if_present(PyObject* object, const char* name);

// str or a subclass, as a copy of its UTF-8 encoding.
PyResult<std::string> to_text(PyObject* object);
// Anything float() of the interpreter's C API accepts.
PyResult<double> to_double(PyObject* object);
// Exactly bool, or a numpy boolean scalar through its __bool__; int is refused.
PyResult<bool> to_bool(PyObject* object);
// An int (or anything with __index__) that fits in 32 unsigned bits.
PyResult<std::uint32_t> to_u32(PyObject* object);

// The wall-clock fields of a datetime.time (or subclass); tzinfo and fold are
// dropped. A fraction of one second or more is kept only at second 59, where
// it marks a leap second.
PyResult<TimeOfDay> to_time_of_day(PyObject* object);
// A new naive datetime.time. datetime has no leap seconds: one reads back as
// second 59 with its fraction, and a UserWarning says so.
PyResult<Ref> from_time_of_day(TimeOfDay time);

}  // namespace kav::py

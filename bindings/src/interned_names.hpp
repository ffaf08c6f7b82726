// Attribute names looked up again and again, interned once per process.
#pragma once

#include "pending_error.hpp"

namespace kav::py {

enum class Name : unsigned char {
    qualname,     // "__qualname__"
    name,         // "__name__"
    module,       // "__module__"
    bool_method,  // "__bool__"
    all,          // "__all__"
    hour,
    minute,
    second,
    microsecond,
};

// A borrowed reference, valid for the life of the process.
PyResult<PyObject*> interned(Name name);

// The attribute `name` of `object`; an empty Ref when the object has no such
// attribute (AttributeError), any other lookup error as a failure.
PyResult<Ref> attribute_if_present(PyObject* object, Name name);

}  // namespace kav::py

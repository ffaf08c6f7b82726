// The interpreter's headers, and owned references to its objects.
//
// Reference counts change only through the exported functions Py_IncRef and
// Py_DecRef: the 3.10 limited headers expand Py_INCREF and Py_DECREF into
// writes to the object header, whose layout later interpreters may change.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>

namespace kav::batch {

struct DropReference {
    void operator()(PyObject* object) const noexcept { Py_DecRef(object); }
};

// A strong reference, dropped when the holder goes; null after a failed call.
using Owned = std::unique_ptr<PyObject, DropReference>;

inline Owned new_reference(PyObject* object) noexcept {
    Py_IncRef(object);
    return Owned(object);
}

}  // namespace kav::batch

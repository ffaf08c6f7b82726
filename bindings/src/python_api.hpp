// The one way this layer includes the interpreter's headers.
//
// The module is built once against the 3.10 stable ABI and must stay correct
// on every later interpreter, so reference counts are changed only through the
// exported functions below: the 3.10 limited headers expand Py_INCREF and
// Py_DECREF into inline writes to ob_refcnt, whose layout later interpreters
// are free to change. Never use those macros (nor Py_XDECREF, Py_CLEAR,
// Py_NewRef, Py_RETURN_NONE and friends, which expand to them) in this layer.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace kav::py {

inline void incref(PyObject* object) noexcept {
    Py_IncRef(object);
}
inline void decref(PyObject* object) noexcept {
    Py_DecRef(object);
}

// A new reference to one of the interpreter's singletons.
inline PyObject* new_not_implemented() noexcept {
    incref(Py_NotImplemented);
    return Py_NotImplemented;
}
inline PyObject* new_bool(bool value) noexcept {
    PyObject* object = value ? Py_True : Py_False;
    incref(object);
    return object;
}

}  // namespace kav::py

// The interpreter's headers, owned references to its objects, and the life
// cycle of heap-type instances.
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

// A new instance of a heap type, zero-filled; its C++ members are still to be
// constructed in place.
inline Owned allocate_instance(PyTypeObject* type) noexcept {
    auto* alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    return Owned(alloc(type, 0));
}

// A heap type of `module` whose instances are `Object`s, by default created only
// by this extension (a type that Python may call gives its own Py_tp_new and
// plain flags). The type description can live on the stack: the interpreter
// copies what it needs from it while creating the type, except `name`, a
// literal that the type keeps pointing to.
template <class Object>
PyObject* new_type(PyObject* module, const char* name, PyType_Slot* slots,
                   unsigned int flags = Py_TPFLAGS_DEFAULT |
                                        Py_TPFLAGS_DISALLOW_INSTANTIATION) noexcept {
    PyType_Spec spec = {
        name, static_cast<int>(sizeof(Object)), 0, flags, slots,
    };
    return PyType_FromModuleAndSpec(module, &spec, nullptr);
}

// The end of a heap type's dealloc, once the instance's members are destroyed:
// the memory goes back, then the instance's reference to its type.
inline void free_instance(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

}  // namespace kav::batch

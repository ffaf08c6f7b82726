// Allocation of instances through object's own constructor.
#include "instance.hpp"

namespace kav::py {

namespace {

// object's tp_new never changes, so it is looked up once rather than on every
// new instance; the interpreter lock orders the writes, which all store the
// same pointer.
newfunc object_new_slot() noexcept {
    static newfunc slot = nullptr;
    if (slot == nullptr)
        slot = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
    return slot;
}

}  // namespace

PyResult<Ref> allocate_object(PyTypeObject* type) {
    const newfunc object_new = object_new_slot();
    if (object_new == nullptr) {
        if (PyErr_Occurred() != nullptr) return fail_fetched();
        return fail(PyExc_TypeError, "base type without tp_new");
    }
    Ref no_arguments = Ref::steal(PyTuple_New(0));
    if (!no_arguments) return fail_fetched();
    Ref object = Ref::steal(object_new(type, no_arguments.get(), nullptr));
    if (!object) return fail_fetched();
    return object;
}

}  // namespace kav::py

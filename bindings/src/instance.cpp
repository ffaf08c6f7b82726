// Allocation of instances through object's own constructor.
#include "instance.hpp"

namespace kav::py {

PyResult<Ref> allocate_object(PyTypeObject* type) {
    auto object_new = reinterpret_cast<newfunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_new));
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

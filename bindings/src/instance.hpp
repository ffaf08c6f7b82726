// The layout of every instance of this module's classes, and how instances
// are created, read and destroyed.
//
// A "binding class" is a small struct describing one Python class:
//   using Value = <the plain C++ value an instance holds>;
//   static constexpr std::string_view name = "<class name>";
//   static PyResult<PyTypeObject*> type();   // the lazily created type object
// Instances hold their value by copy and no references to other Python
// objects, so they never take part in cycle collection.
#pragma once

#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "borrow.hpp"
#include "converters.hpp"
#include "pending_error.hpp"

namespace kav::py {

template <class Value>
struct Instance {
    PyObject header;
    Value value;
    BorrowFlag borrow;
};

template <class Class>
using InstanceOf = Instance<typename Class::Value>;

// `self` must be an instance of Class (a slot of Class, or checked by type).
template <class Class>
InstanceOf<Class>& instance_of(PyObject* self) noexcept {
    return *reinterpret_cast<InstanceOf<Class>*>(self);
}

// A bare object of `type` from object's own tp_new (called with an empty
// argument tuple and no keywords), its value not yet constructed.
PyResult<Ref> allocate_object(PyTypeObject* type);

// A new instance of `type` holding `value`. Convert everything before calling
// this, so that a failed conversion creates nothing. The value is forwarded,
// not taken by value: a beacon record moved in is moved once, into place.
template <class V>
PyResult<Ref> create_instance(PyTypeObject* type, V&& value) {
    using Value = std::remove_cvref_t<V>;
    KAV_PY_TRY_ASSIGN(Ref object, allocate_object(type));
    auto* instance = reinterpret_cast<Instance<Value>*>(object.get());
    new (&instance->value) Value(std::forward<V>(value));
    new (&instance->borrow) BorrowFlag();
    return object;
}

// Frees an object from allocate_object whose value was never constructed.
void free_bare_object(PyObject* object) noexcept;

// A new instance of `type` whose value `make()` returns, built in place:
// texts copied straight into the object rather than into a value that is then
// moved in. Should make() throw (exhausted memory), the bare object is freed
// without destroying the value it never held, and the exception passes on.
template <class Value, class Make>
PyResult<Ref> emplace_instance(PyTypeObject* type, Make&& make) {
    KAV_PY_TRY_ASSIGN(Ref object, allocate_object(type));
    auto* instance = reinterpret_cast<Instance<Value>*>(object.get());
    try {
        new (&instance->value) Value(make());
    } catch (...) {
        free_bare_object(object.release());
        throw;
    }
    new (&instance->borrow) BorrowFlag();
    return object;
}

// A new instance of Class (its type object created on first use).
template <class Class>
PyResult<Ref> new_object(typename Class::Value value) {
    KAV_PY_TRY_ASSIGN(PyTypeObject * type, Class::type());
    return create_instance(type, std::move(value));
}

template <class Class>
PyResult<bool> is_instance(PyObject* object) {
    KAV_PY_TRY_ASSIGN(PyTypeObject * type, Class::type());
    // The classes cannot be subclassed, so the exact type decides.
    return Py_TYPE(object) == type;
}

// A copy of the value of `object`, which must be an instance of Class; read
// under a shared borrow of that object.
template <class Class>
PyResult<typename Class::Value> read_argument(PyObject* object) {
    KAV_PY_TRY_ASSIGN(bool matches, is_instance<Class>(object));
    if (!matches) return fail(type_mismatch(object, Class::name));
    InstanceOf<Class>& instance = instance_of<Class>(object);
    KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
    return instance.value;
}

// The deallocation slot: destroy the value, free the memory with the type's
// own free function, then drop the instance's reference to its heap type.
template <class Class>
void dealloc_entry(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    InstanceOf<Class>& instance = instance_of<Class>(self);
    using Value = typename Class::Value;
    instance.value.~Value();
    instance.borrow.~BorrowFlag();
    // Class has one type object for the life of the process, so its free
    // function is looked up once, not on every deallocation.
    static const auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_memory(self);
    decref(reinterpret_cast<PyObject*>(type));
}

}  // namespace kav::py

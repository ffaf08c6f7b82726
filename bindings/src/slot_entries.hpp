// Ready-made slot functions for binding classes (see instance.hpp), each
// wrapped in the call guard and taking the borrows the class rules demand.
//
// Constructor (a binding class that can be built from Python also provides):
//   static constexpr std::array<std::string_view, N> parameters;
//   static PyResult<Value> construct(const Arguments<N>&);   // for __new__
//   static PyResult<Done> validate(const Arguments<N>&);     // for __init__
// Attribute (one struct per attribute):
//   static constexpr const char* name;
//   static PyResult<Ref> get(const Value&);
//   static PyResult<X> convert(PyObject*);     // no prefix: the entry adds it
//   static void store(Value&, X&&) noexcept;
#pragma once

#include <string>

#include "arg_matching.hpp"
#include "call_guard.hpp"
#include "instance.hpp"

namespace kav::py {

template <class Class>
using ClassArguments = Arguments<Class::parameters.size()>;

// tp_new: match, convert every argument, and only then create the instance.
template <class Class>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        static constexpr ParamSpec spec{Class::name, "__new__", Class::parameters};
        ClassArguments<Class> arguments{};
        KAV_PY_TRY(match_arguments(spec, args, kwargs, arguments));
        KAV_PY_TRY_ASSIGN(auto value, Class::construct(arguments));
        return new_instance<Class>(type, [&value] { return std::move(value); });
    });
}

// tp_init: validates the same arguments under a shared borrow of `self` and
// changes nothing; the constructor has already stored the value.
template <class Class>
int init_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard_status([&]() -> PyResult<Done> {
        static constexpr ParamSpec spec{Class::name, "__init__", Class::parameters};
        ClassArguments<Class> arguments{};
        KAV_PY_TRY(match_arguments(spec, args, kwargs, arguments));
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance_of<Class>(self).borrow));
        return Class::validate(arguments);
    });
}

template <class Class, class Field>
PyObject* get_entry(PyObject* self, void* /*closure*/) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
        return Field::get(instance.value);
    });
}

// The new value is converted before the exclusive borrow is taken, so no
// Python code runs while the instance is held for writing, and a failed
// conversion or borrow leaves the field as it was.
template <class Class, class Field>
int set_entry(PyObject* self, PyObject* value, void* /*closure*/) noexcept {
    return guard_status([&]() -> PyResult<Done> {
        if (value == nullptr) return fail(PyExc_AttributeError, "property has no deleter");
        KAV_PY_TRY_ASSIGN(auto converted, named(Field::name, Field::convert(value)));
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(ExclusiveBorrow borrow, ExclusiveBorrow::take(instance.borrow));
        Field::store(instance.value, std::move(converted));
        return done;
    });
}

// The descriptor table entry of a read-write attribute.
template <class Class, class Field>
constexpr PyGetSetDef attribute(const char* doc) noexcept {
    return {Field::name, &get_entry<Class, Field>, &set_entry<Class, Field>, doc, nullptr};
}

template <class Class, std::string (*Render)(const typename Class::Value&)>
PyObject* repr_entry(PyObject* self) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
        const std::string text = Render(instance.value);
        Ref result = Ref::steal(
            PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
        if (!result) return fail_fetched();
        return result;
    });
}

// Equality between two instances of one class; everything else (ordering,
// other types, a reader blocked by a writer on `self`) is NotImplemented, so
// the interpreter falls back to identity or raises its own TypeError.
template <class Class, bool (*Equal)(const typename Class::Value&, const typename Class::Value&)>
PyObject* richcompare_entry(PyObject* self, PyObject* other, int op) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& left = instance_of<Class>(self);
        SharedBorrow left_borrow = SharedBorrow::try_take(left.borrow);
        if (!left_borrow) return Ref::steal(new_not_implemented());
        KAV_PY_TRY_ASSIGN(bool same_class, is_instance<Class>(other));
        if (!same_class) return Ref::steal(new_not_implemented());
        InstanceOf<Class>& right = instance_of<Class>(other);
        SharedBorrow right_borrow = SharedBorrow::try_take(right.borrow);
        // A writer holds the borrow only while it stores, with no Python code
        // running, so meeting one here means the borrow rules were broken.
        if (!right_borrow) {
            return fail(PendingError::internal_failure("Already mutably borrowed: PyBorrowError"));
        }
        if (op != Py_EQ && op != Py_NE) return Ref::steal(new_not_implemented());
        const bool equal = Equal(left.value, right.value);
        return Ref::steal(new_bool(op == Py_EQ ? equal : !equal));
    });
}

}  // namespace kav::py

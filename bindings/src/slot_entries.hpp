// Ready-made slot functions for binding classes (see instance.hpp), each
// wrapped in the call guard and taking the borrows the class rules demand.
#pragma once

#include <string>

#include "arg_matching.hpp"
#include "call_guard.hpp"
#include "instance.hpp"
#include "repr_text.hpp"

namespace kav::py {

// A binding class that Python code can call: its parameter names, and the
// value its arguments make (converted in parameter order, up to the first
// failure). It may also have `static PyResult<Done> validate(arguments)`
// for __init__, when that checks less than construction does.
template <class Class>
concept ConstructibleClass = BindingClass<Class> &&
    requires(const Arguments<Class::parameters.size()>& arguments) {
    { Class::construct(arguments) } -> std::same_as<PyResult<typename Class::Value>>;
};

// One read-write attribute of a Value: its name, a new Python object of the
// stored value, the conversion of a Python value (without the argument
// prefix: the entries add it) and the store of a converted one.
template <class Field, class Value>
concept AttributeOf = requires(const Value& value, Value& target, PyObject* object) {
    { Field::name } -> std::convertible_to<const char*>;
    { Field::get(value) } -> std::same_as<PyResult<Ref>>;
    Field::store(target, Field::convert(object).value());
};

template <class Class>
using ClassArguments = Arguments<Class::parameters.size()>;

// tp_new: match, convert every argument, and only then create the instance.
template <ConstructibleClass Class>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        static constexpr Signature signature{Class::name, "__new__", Class::parameters};
        ClassArguments<Class> arguments{};
        KAV_PY_TRY(match_arguments(signature, args, kwargs, arguments));
        KAV_PY_TRY_ASSIGN(auto value, Class::construct(arguments));
        return new_instance<Class>(type, [&value] { return std::move(value); });
    });
}

// tp_init: validates the same arguments under a shared borrow of `self` and
// changes nothing; the constructor has already stored the value. Validation
// is construction with the result dropped, unless the class says otherwise.
template <ConstructibleClass Class>
int init_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard_status([&]() -> PyResult<Done> {
        static constexpr Signature signature{Class::name, "__init__", Class::parameters};
        ClassArguments<Class> arguments{};
        KAV_PY_TRY(match_arguments(signature, args, kwargs, arguments));
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance_of<Class>(self).borrow));
        if constexpr (requires { Class::validate(arguments); }) {
            return Class::validate(arguments);
        } else {
            KAV_PY_TRY(Class::construct(arguments));
            return done;
        }
    });
}

template <BindingClass Class, AttributeOf<typename Class::Value> Field>
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
template <BindingClass Class, AttributeOf<typename Class::Value> Field>
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
template <BindingClass Class, AttributeOf<typename Class::Value> Field>
constexpr PyGetSetDef attribute(const char* doc) noexcept {
    return {Field::name, &get_entry<Class, Field>, &set_entry<Class, Field>, doc, nullptr};
}

// The repr: an enumeration member's text form, any other value's repr text.
template <BindingClass Class>
PyObject* repr_entry(PyObject* self) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
        std::string text;
        if constexpr (kav::Enumeration<typename Class::Value>) {
            text = kav::text_form(instance.value);
        } else {
            text = kav::repr::repr_text(instance.value);
        }
        Ref result = new_str(text);
        if (!result) return fail_fetched();
        return result;
    });
}

// Equality between two instances of one class; everything else (ordering,
// other types, a reader blocked by a writer on `self`) is NotImplemented, so
// the interpreter falls back to identity or raises its own TypeError.
template <BindingClass Class>
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
        const bool equal = left.value == right.value;
        return Ref::steal(new_bool(op == Py_EQ ? equal : !equal));
    });
}

}  // namespace kav::py

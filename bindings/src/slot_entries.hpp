// Ready-made slot functions for binding classes (see instance.hpp), each
// wrapped in the call guard and taking the borrows the class rules demand,
// and the field table of a record class, from which its parameters, its
// descriptor table and its construction follow.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <utility>

#include "arg_matching.hpp"
#include "instance.hpp"
#include "repr_text.hpp"

namespace kav::py {

// How Python code calls a binding class: its parameter names, and the value
// its arguments make (converted in parameter order, up to the first failure).
// It may also have `static PyResult<Done> validate(arguments)` for __init__,
// when that checks less than construction does.
template <class Constructor, class Class>
concept ConstructorOf = BindingClass<Class> &&
    requires(const Arguments<Constructor::parameters.size()>& arguments) {
    { Constructor::construct(arguments) } -> std::same_as<PyResult<typename Class::Value>>;
};

// tp_new: match, convert every argument, and only then create the instance.
template <BindingClass Class, ConstructorOf<Class> Constructor>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        static constexpr Signature signature{Class::name, "__new__", Constructor::parameters};
        Arguments<Constructor::parameters.size()> arguments{};
        KAV_PY_TRY(match_arguments(signature, args, kwargs, arguments));
        KAV_PY_TRY_ASSIGN(auto value, Constructor::construct(arguments));
        return new_instance<Class>(type, [&value] { return std::move(value); });
    });
}

// tp_init: validates the same arguments under a shared borrow of `self` and
// changes nothing; the constructor has already stored the value. Validation
// is construction with the result dropped, unless the class says otherwise.
template <BindingClass Class, ConstructorOf<Class> Constructor>
int init_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guard_status([&]() -> PyResult<Done> {
        static constexpr Signature signature{Class::name, "__init__", Constructor::parameters};
        Arguments<Constructor::parameters.size()> arguments{};
        KAV_PY_TRY(match_arguments(signature, args, kwargs, arguments));
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance_of<Class>(self).borrow));
        if constexpr (requires { Constructor::validate(arguments); }) {
            return Constructor::validate(arguments);
        } else {
            KAV_PY_TRY(Constructor::construct(arguments));
            return done;
        }
    });
}

// The repr: an enumeration member's text form, any other value's repr text.
template <BindingClass Class>
PyObject* repr_entry(PyObject* self) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
        if constexpr (kav::Enumeration<typename Class::Value>) {
            return returned(new_str(kav::text_form(instance.value)));
        } else {
            return returned(new_str(kav::repr::repr_text(instance.value)));
        }
    });
}

// The result of == or != from whether the two sides are equal; any other
// comparison is NotImplemented.
inline Ref equality_result(bool equal, int op) noexcept {
    if (op != Py_EQ && op != Py_NE) return Ref::borrow(Py_NotImplemented);
    return Ref::borrow(equal == (op == Py_EQ) ? Py_True : Py_False);
}

// Equality between two instances of one class; everything else (ordering,
// other types, a reader blocked by a writer on `self`) is NotImplemented, so
// the interpreter falls back to identity or raises its own TypeError.
template <BindingClass Class>
PyObject* richcompare_entry(PyObject* self, PyObject* other, int op) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& left = instance_of<Class>(self);
        SharedBorrow left_borrow = SharedBorrow::try_take(left.borrow);
        if (!left_borrow) return Ref::borrow(Py_NotImplemented);
        KAV_PY_TRY_ASSIGN(bool same_class, is_instance<Class>(other));
        if (!same_class) return Ref::borrow(Py_NotImplemented);
        InstanceOf<Class>& right = instance_of<Class>(other);
        SharedBorrow right_borrow = SharedBorrow::try_take(right.borrow);
        // A writer holds the borrow only while it stores, with no Python code
        // running, so meeting one here means the borrow rules were broken.
        if (!right_borrow) {
            return fail(PendingError::internal_failure("Already mutably borrowed: PyBorrowError"));
        }
        return equality_result(left.value == right.value, op);
    });
}

// A string literal as a template argument.
template <std::size_t N>
struct Literal {
    char chars[N];
    constexpr Literal(const char (&text)[N]) noexcept {  // NOLINT: implicit on purpose
        for (std::size_t i = 0; i < N; ++i) chars[i] = text[i];
    }
};

// One read-write attribute, a row of a field table: the record member it
// lives in, Convert turning a Python value into the stored one (without the
// argument prefix: the callers add it), Make turning the stored one into a
// new Python object.
template <Literal Name, auto Member, auto Convert, auto Make, Literal Doc = "">
struct Field {
    static constexpr const char* name = Name.chars;
    static constexpr const char* doc = Doc.chars;

    static PyResult<Ref> get(const auto& record) { return Make(record.*Member); }
    static auto convert(PyObject* value) { return Convert(value); }
    template <class Stored>
    static void store(auto& record, Stored&& value) noexcept {
        record.*Member = std::forward<Stored>(value);
    }
};

template <BindingClass Class, class Row>
PyObject* get_entry(PyObject* self, void* /*closure*/) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
        return Row::get(instance.value);
    });
}

// The new value is converted before the exclusive borrow is taken, so no
// Python code runs while the instance is held for writing, and a failed
// conversion or borrow leaves the field as it was.
template <BindingClass Class, class Row>
int set_entry(PyObject* self, PyObject* value, void* /*closure*/) noexcept {
    return guard_status([&]() -> PyResult<Done> {
        if (value == nullptr) return fail(PyExc_AttributeError, "property has no deleter");
        KAV_PY_TRY_ASSIGN(auto converted, named(Row::name, Row::convert(value)));
        InstanceOf<Class>& instance = instance_of<Class>(self);
        KAV_PY_TRY_ASSIGN(ExclusiveBorrow borrow, ExclusiveBorrow::take(instance.borrow));
        Row::store(instance.value, std::move(converted));
        return done;
    });
}

// Stands in for the initialiser of any one member: it converts to every type.
struct AnyMember {
    template <class T>
    operator T() const noexcept;  // never defined: used in unevaluated checks only
};

template <class Record, std::size_t... I>
consteval bool takes_initialisers(std::index_sequence<I...>) {
    return requires {
        Record{(static_cast<void>(I), AnyMember{})...};
    };
}

// The number of members of the aggregate Record (at most Most): the most
// initialisers Record{...} accepts, one per member, as AnyMember needs no
// braces elided. Counted down, since a member without a default (an
// ICAOAddress) must be given.
template <class Record, std::size_t Most = 32>
consteval std::size_t member_count() {
    if constexpr (Most == 0 || takes_initialisers<Record>(std::make_index_sequence<Most>{})) {
        return Most;
    } else {
        return member_count<Record, Most - 1>();
    }
}

// The attributes of a record class, one Field row each in parameter order;
// also the class's constructor (see ConstructorOf).
template <BindingClass Class, class... Fields>
struct FieldTable {
    using Record = typename Class::Value;
    static_assert(member_count<Record>() == sizeof...(Fields),
                  "a field table has one row for each member of its record");

    static constexpr std::array<std::string_view, sizeof...(Fields)> parameters{Fields::name...};

    // The class's descriptor table, ended by the empty entry.
    static inline std::array<PyGetSetDef, sizeof...(Fields) + 1> descriptors{
        PyGetSetDef{Fields::name, &get_entry<Class, Fields>, &set_entry<Class, Fields>, Fields::doc,
                    nullptr}...,
        PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};

    // The record from one argument per field, converted in parameter order up
    // to the first failure, which is the result.
    static PyResult<Record> construct(const Arguments<sizeof...(Fields)>& arguments) {
        Record record = Class::blank();
        PyResult<Done> status = done;
        std::size_t next = 0;
        (void)((status = convert_into<Fields>(record, arguments[next++])) && ...);
        if (!status) return fail(std::move(status).error());
        return record;
    }

  private:
    template <class F>
    static PyResult<Done> convert_into(Record& record, PyObject* argument) {
        KAV_PY_TRY_ASSIGN(auto value, named(F::name, F::convert(argument)));
        F::store(record, std::move(value));
        return done;
    }
};

}  // namespace kav::py

// The enumeration classes (see classes.hpp): member objects, repr, int() and
// comparison.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "classes.hpp"
#include "first_use.hpp"
#include "slot_entries.hpp"

namespace kav::py {

namespace {

// The member objects in code order, written once while the class is created,
// before its type object is handed out.
template <class Enum>
std::array<PyObject*, kav::kEnumRows<Enum>.size()> member_objects;

// A failed step of adding the members becomes a RuntimeError naming the
// step, caused by the failure: 3.13, for one, reports a failed insertion into
// a class's dict as AttributeError. Exhausted memory needs no naming and
// passes unchanged.
template <class Enum>
PendingError step_failed(std::string_view step, PendingError cause) {
    if (cause.is_exactly(PyExc_MemoryError)) return cause;
    std::string message = "An error occurred while initializing `";
    message += EnumClass<Enum>::name;
    message += '.';
    message += step;
    message += '`';
    return PendingError::caused_by(PyExc_RuntimeError, message, std::move(cause));
}

// Every member object is made before any is set as a class attribute, so that
// the class has all its members or the creation fails.
template <class Enum>
PyResult<Done> add_members(PyTypeObject* type) {
    const auto& rows = kav::kEnumRows<Enum>;
    std::array<Ref, rows.size()> members;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        PyResult<Ref> member =
            new_instance<EnumClass<Enum>>(type, [&row = rows[i]] { return row.member; });
        if (!member) return fail(step_failed<Enum>(rows[i].python_name, std::move(member).error()));
        members[i] = std::move(member).value();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), rows[i].python_name,
                                   members[i].get()) < 0) {
            return fail(step_failed<Enum>("__dict__", PendingError::fetch()));
        }
    }
    // The class attributes and this table keep the members for the life of
    // the process, whatever Python code later binds to those names.
    for (std::size_t i = 0; i < rows.size(); ++i) member_objects<Enum>[i] = members[i].release();
    return done;
}

template <class Enum>
PyObject* int_entry(PyObject* self) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<EnumClass<Enum>>& member = instance_of<EnumClass<Enum>>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(member.borrow));
        return returned(PyLong_FromLong(kav::code(member.value)));
    });
}

// A member equals a member of its own class with the same code, and any
// integer (or object with __index__) of that value. Everything else, ordering
// included, is NotImplemented, so comparison never raises.
template <class Enum>
PyObject* richcompare_entry(PyObject* self, PyObject* other, int op) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<EnumClass<Enum>>& left = instance_of<EnumClass<Enum>>(self);
        SharedBorrow left_borrow = SharedBorrow::try_take(left.borrow);
        if (!left_borrow) return Ref::borrow(Py_NotImplemented);
        const long long code = kav::code(left.value);
        if (Py_TYPE(other) == Py_TYPE(self)) {
            InstanceOf<EnumClass<Enum>>& right = instance_of<EnumClass<Enum>>(other);
            SharedBorrow right_borrow = SharedBorrow::try_take(right.borrow);
            if (!right_borrow) return Ref::borrow(Py_NotImplemented);
            return equality_result(code == kav::code(right.value), op);
        }
        // long long is pointer-sized on every platform this module builds for.
        static_assert(sizeof(long long) == sizeof(Py_ssize_t));
        const long long number = PyLong_AsLongLong(other);
        if (number == -1 && PyErr_Occurred() != nullptr) {
            PyErr_Clear();
            return Ref::borrow(Py_NotImplemented);
        }
        return equality_result(code == number, op);
    });
}

}  // namespace

template <kav::Enumeration Enum>
PyResult<PyTypeObject*> EnumClass<Enum>::type() {
    static PyType_Slot slots[] = {
        {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<EnumClass>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<EnumClass>)},
        {Py_tp_doc, const_cast<char*>(kEnumText<Enum>.doc)},
        {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<EnumClass>)},
        {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<Enum>)},
        {Py_nb_int, reinterpret_cast<void*>(&int_entry<Enum>)},
        {0, nullptr},
    };
    static PyType_Spec spec = instance_spec<EnumClass>(slots, Py_TPFLAGS_DISALLOW_INSTANTIATION);
    static LazyType lazy(name, spec, &add_members<Enum>);
    return lazy.get();
}

template <kav::Enumeration Enum>
PyResult<Ref> EnumClass<Enum>::member(Enum value) {
    KAV_PY_TRY(type());
    return Ref::borrow(member_objects<Enum>[static_cast<std::size_t>(&kav::row_of(value) -
                                                                     kav::kEnumRows<Enum>.data())]);
}

template struct EnumClass<kav::KAVAircraftType>;
template struct EnumClass<kav::KAVAddressType>;
template struct EnumClass<kav::KAVAPRSProtocol>;

}  // namespace kav::py

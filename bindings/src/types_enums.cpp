// The enumeration classes (see classes.hpp): member objects, repr, int() and
// comparison.
#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "classes.hpp"
#include "first_use.hpp"
#include "slot_entries.hpp"

namespace kav::py {

namespace {

// The Python side of each enumeration; its members come from kav::kEnumRows.
template <class Enum>
struct EnumTraits;

template <>
struct EnumTraits<kav::KAVAircraftType> {
    static constexpr std::string_view name = "KAVAircraftType";
    static constexpr const char* doc = "Categories of aircraft identified in the KAV network.";
};

template <>
struct EnumTraits<kav::KAVAddressType> {
    static constexpr std::string_view name = "KAVAddressType";
    static constexpr const char* doc =
        "The scheme utilized to format and route the beacon address.";
};

template <>
struct EnumTraits<kav::KAVAPRSProtocol> {
    static constexpr std::string_view name = "KAVAPRSProtocol";
    static constexpr const char* doc =
        "The protocol format used by the beacon over the APRS network.";
};

// The class attribute names of the members, in code order.
template <class Enum>
constexpr auto kPythonNames = [] {
    std::array<const char*, kav::kEnumRows<Enum>.size()> names{};
    for (std::size_t i = 0; i < names.size(); ++i) names[i] = kav::kEnumRows<Enum>[i].python_name;
    return names;
}();

// The binding class of one enumeration (see instance.hpp).
template <class Enum>
struct EnumClass {
    using Value = Enum;
    using Traits = EnumTraits<Enum>;
    static constexpr std::string_view name = Traits::name;
    // The first member, whose code is 0.
    static Value blank() noexcept { return kav::kAllMembers<Enum>[0]; }
    static PyResult<PyTypeObject*> type();
};

// The member's position in its class's table, which orders its class attributes.
template <class Enum>
std::size_t member_index(Enum value) noexcept {
    const auto& members = kav::kAllMembers<Enum>;
    return static_cast<std::size_t>(std::find(members.begin(), members.end(), value) -
                                    members.begin());
}

// A new member object for position `index`, of `type`, which is passed in
// because the type object is still under construction.
template <class Enum>
PyResult<Ref> make_member(PyTypeObject* type, std::size_t index) {
    return new_instance<EnumClass<Enum>>(type, [index] { return kav::kAllMembers<Enum>[index]; });
}

template <class Enum>
PyObject* int_entry(PyObject* self) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        InstanceOf<EnumClass<Enum>>& member = instance_of<EnumClass<Enum>>(self);
        KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(member.borrow));
        Ref result = Ref::steal(PyLong_FromLong(kav::code(member.value)));
        if (!result) return fail_fetched();
        return result;
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

template <class Enum>
LazyType& lazy_type() {
    using Traits = EnumTraits<Enum>;
    static PyType_Slot slots[] = {
        {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<EnumClass<Enum>>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<EnumClass<Enum>>)},
        {Py_tp_doc, const_cast<char*>(Traits::doc)},
        {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<EnumClass<Enum>>)},
        {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<Enum>)},
        {Py_nb_int, reinterpret_cast<void*>(&int_entry<Enum>)},
        {0, nullptr},
    };
    static PyType_Spec spec =
        instance_spec<EnumClass<Enum>>(slots, Py_TPFLAGS_DISALLOW_INSTANTIATION);
    static LazyType type(Traits::name, spec,
                         ClassAttributes{kPythonNames<Enum>, &make_member<Enum>});
    return type;
}

template <class Enum>
PyResult<PyTypeObject*> EnumClass<Enum>::type() {
    return lazy_type<Enum>().get();
}

}  // namespace

template <class Enum>
PyResult<PyTypeObject*> enum_type() {
    return EnumClass<Enum>::type();
}

template <class Enum>
PyResult<Ref> enum_member(Enum value) {
    return lazy_type<Enum>().attribute_value(member_index(value));
}

template <class Enum>
PyResult<Enum> enum_from_object(PyObject* object) {
    return read_argument<EnumClass<Enum>>(object);
}

// The three enumerations' functions, for the other files (see classes.hpp).
#define KAV_PY_DEFINE_ENUM(Enum)                          \
    template PyResult<PyTypeObject*> enum_type<Enum>();   \
    template PyResult<Ref> enum_member<Enum>(Enum value); \
    template PyResult<Enum> enum_from_object<Enum>(PyObject * object);
KAV_PY_DEFINE_ENUM(kav::KAVAircraftType)
KAV_PY_DEFINE_ENUM(kav::KAVAddressType)
KAV_PY_DEFINE_ENUM(kav::KAVAPRSProtocol)
#undef KAV_PY_DEFINE_ENUM

}  // namespace kav::py

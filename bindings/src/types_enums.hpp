// The enumeration classes KAVAircraftType, KAVAddressType and KAVAPRSProtocol.
//
// Each member is one shared Python object for the life of the process: the
// class attribute and every getter that yields a member return that object.
// Enum is one of kav::KAVAircraftType, kav::KAVAddressType, kav::KAVAPRSProtocol.
#pragma once

#include "aprs_types.hpp"
#include "pending_error.hpp"

namespace kav::py {

// The class's type object, with every member set as a class attribute.
template <class Enum>
PyResult<PyTypeObject*> enum_type();

// A new reference to the shared member object of `value`.
template <class Enum>
PyResult<Ref> enum_member(Enum value);

// The value of a member object, read under a shared borrow; anything that is
// not a member of this very class (an int, a member of another enumeration)
// is the type-mismatch TypeError (without argument prefix).
template <class Enum>
PyResult<Enum> enum_from_object(PyObject* object);

#define KAV_PY_DECLARE_ENUM(Enum)                                \
    extern template PyResult<PyTypeObject*> enum_type<Enum>();   \
    extern template PyResult<Ref> enum_member<Enum>(Enum value); \
    extern template PyResult<Enum> enum_from_object<Enum>(PyObject * object);
KAV_PY_DECLARE_ENUM(kav::KAVAircraftType)
KAV_PY_DECLARE_ENUM(kav::KAVAddressType)
KAV_PY_DECLARE_ENUM(kav::KAVAPRSProtocol)
#undef KAV_PY_DECLARE_ENUM

}  // namespace kav::py

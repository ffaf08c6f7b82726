#include "time_of_day_conversion.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include "converters.hpp"
#include "datetime_type.hpp"
#include "interned_names.hpp"

namespace kav::py {
namespace {

constexpr std::uint32_t kNanosPerSecond = 1'000'000'000;
constexpr std::uint32_t kNanosPerMicro = 1000;

PyResult<Done> require_time(PyObject* object, PyObject* type) {
    if (!PyType_IsSubtype(Py_TYPE(object), reinterpret_cast<PyTypeObject*>(type))) {
        return fail(type_mismatch(object, type));
    }
    return done;
}

PyResult<std::uint32_t> u32_attribute(PyObject* object, Name name) {
    KAV_PY_TRY_ASSIGN(PyObject * attribute_name, interned(name));
    Ref value = Ref::steal(PyObject_GetAttr(object, attribute_name));
    if (!value) return fail_fetched();
    return to_u32(value.get());
}

}  // namespace

PyResult<TimeOfDay> to_time_of_day(PyObject* object) {
    KAV_PY_TRY_ASSIGN(PyObject * type, datetime_time_type());
    KAV_PY_TRY(require_time(object, type));
    constexpr std::array<Name, 4> kFields{Name::hour, Name::minute, Name::second,
                                          Name::microsecond};
    std::array<std::uint32_t, kFields.size()> values{};
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        KAV_PY_TRY_ASSIGN(values[i], u32_attribute(object, kFields[i]));
    }
    const auto [hour, minute, second, microsecond] = values;
    // 64 bits, so that a subclass reporting a huge microsecond cannot wrap
    // around into an accepted fraction.
    const std::uint64_t nanoseconds = std::uint64_t{microsecond} * kNanosPerMicro;
    const std::uint64_t fraction_limit = second == 59 ? 2ull * kNanosPerSecond : kNanosPerSecond;
    if (hour >= 24 || minute >= 60 || second >= 60 || nanoseconds >= fraction_limit) {
        return fail(PyExc_ValueError, "invalid or out-of-range time");
    }
    return TimeOfDay{hour * 3600 + minute * 60 + second, static_cast<std::uint32_t>(nanoseconds)};
}

PyResult<Ref> from_time_of_day(TimeOfDay time) {
    KAV_PY_TRY_ASSIGN(PyObject * type, datetime_time_type());
    const bool leap_second = time.nanoseconds >= kNanosPerSecond;
    const std::uint32_t fraction =
        leap_second ? time.nanoseconds - kNanosPerSecond : time.nanoseconds;
    Ref result =
        Ref::steal(PyObject_CallFunction(type, "IIIIO", time.seconds / 3600, time.seconds / 60 % 60,
                                         time.seconds % 60, fraction / kNanosPerMicro, Py_None));
    if (!result) return fail_fetched();
    KAV_PY_TRY(require_time(result.get(), type));
    if (leap_second &&
        PyErr_WarnEx(PyExc_UserWarning,
                     "ignored leap-second, `datetime` does not support leap-seconds", 0) < 0) {
        // The time is still right; a warning filter that raises must not
        // lose it, so the raised warning is reported and dropped.
        PyErr_WriteUnraisable(result.get());
    }
    return result;
}

}  // namespace kav::py

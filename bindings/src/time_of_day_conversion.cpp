#include "time_of_day_conversion.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "converters.hpp"
#include "once_cache.hpp"

namespace kav::py {
namespace {

// The datetime.time class, imported on first use and kept (borrowed from the
// cache) for the life of the process: the limited API has no datetime C
// interface, so the class comes from the module itself.
PyResult<PyObject*> datetime_time_type() {
    static OnceCache<PyObject*> cache;
    return imported_attribute(cache, "datetime", "time");
}

constexpr std::uint32_t kNanosPerSecond = TimeOfDay::kNanosPerSecond;
constexpr std::uint32_t kNanosPerMicro = 1000;
constexpr std::uint32_t kSecondsPerDay = 86'400;

PyResult<Done> require_time(PyObject* object, PyObject* type) {
    if (!PyType_IsSubtype(Py_TYPE(object), reinterpret_cast<PyTypeObject*>(type))) {
        return fail(type_mismatch(object, type));
    }
    return done;
}

PyResult<std::uint32_t> u32_attribute(PyObject* object, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(object, name));
    if (!value) return fail_fetched();
    return to_u32(value.get());
}

// A new datetime.time for `time`; a leap second reads as second 59 with a
// warning, since datetime has no second 60.
PyResult<Ref> new_time(TimeOfDay time) {
    KAV_PY_TRY_ASSIGN(PyObject * type, datetime_time_type());
    const std::array<unsigned long, 4> fields{time.seconds / 3600, time.seconds / 60 % 60,
                                              time.seconds % 60,
                                              time.fraction_nanoseconds() / kNanosPerMicro};
    // Positional arguments in a tuple: the class is called without a format
    // string to interpret on every call.
    Ref arguments = Ref::steal(PyTuple_New(fields.size()));
    if (!arguments) return fail_fetched();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        PyObject* field = PyLong_FromUnsignedLong(fields[i]);
        if (field == nullptr ||
            PyTuple_SetItem(arguments.get(), static_cast<Py_ssize_t>(i), field) < 0)
            return fail_fetched();
    }
    Ref result = Ref::steal(PyObject_Call(type, arguments.get(), nullptr));
    if (!result) return fail_fetched();
    KAV_PY_TRY(require_time(result.get(), type));
    if (time.leap_second() &&
        PyErr_WarnEx(PyExc_UserWarning,
                     "ignored leap-second, `datetime` does not support leap-seconds", 0) < 0) {
        // The time is still right; a warning filter that raises must not
        // lose it, so the raised warning is reported and dropped.
        PyErr_WriteUnraisable(result.get());
    }
    return result;
}

// The shared datetime.time of a whole second of the day. Beacons carry whole
// seconds, and datetime.time objects cannot be changed, so each of the
// 86,400 is made on its first read and handed out again after that: a read
// of the time costs a reference count instead of a call of the class. The
// table (and at most one time object per second) lives as long as the
// process; the interpreter lock orders the writes.
PyResult<Ref> whole_second(std::uint32_t seconds) {
    static std::unique_ptr<PyObject*[]> made;
    if (!made) made = std::make_unique<PyObject*[]>(kSecondsPerDay);
    PyObject*& slot = made[seconds];
    if (slot == nullptr) {
        KAV_PY_TRY_ASSIGN(Ref time, new_time(TimeOfDay{seconds, 0}));
        slot = time.release();
    }
    return Ref::borrow(slot);
}

}  // namespace

PyResult<TimeOfDay> to_time_of_day(PyObject* object) {
    KAV_PY_TRY_ASSIGN(PyObject * type, datetime_time_type());
    KAV_PY_TRY(require_time(object, type));
    constexpr std::array<const char*, 4> kFields{"hour", "minute", "second", "microsecond"};
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
    if (time.nanoseconds == 0 && time.seconds < kSecondsPerDay) return whole_second(time.seconds);
    return new_time(time);
}

}  // namespace kav::py

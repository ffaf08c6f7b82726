// Shared converters, the type-mismatch TypeError and attribute lookup.
#include "converters.hpp"

#include <array>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>

#include "first_use.hpp"

namespace kav::py {

namespace {

// The UTF-8 text of a str attribute of `object`; nothing on any failure.
std::optional<std::string> str_attribute(PyObject* object, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(object, name));
    Py_ssize_t size = 0;
    const char* data = value && PyUnicode_Check(value.get())
                           ? PyUnicode_AsUTF8AndSize(value.get(), &size)
                           : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
}

PyObject* type_of(PyObject* object) noexcept {
    return reinterpret_cast<PyObject*>(Py_TYPE(object));
}

// Numpy's boolean scalar type: module "numpy", named "bool_" (or "bool" from
// numpy 2 on). Recognised by name so that numpy need not be imported.
bool is_numpy_bool(PyObject* object) {
    if (str_attribute(type_of(object), "__module__") != "numpy") return false;
    std::optional<std::string> name = str_attribute(type_of(object), "__name__");
    return name == "bool_" || name == "bool";
}

PyResult<bool> numpy_bool_value(PyObject* object) {
    KAV_PY_TRY_ASSIGN(Ref method, attribute_if_present(object, "__bool__"));
    if (!method) {
        Ref type_text = Ref::steal(PyObject_Str(type_of(object)));
        if (!type_text) return fail_fetched();
        KAV_PY_TRY_ASSIGN(std::string type_name, to_text(type_text.get()));
        return fail(PyExc_TypeError,
                    "object of type '" + type_name + "' does not define a '__bool__' conversion");
    }
    KAV_PY_TRY_ASSIGN(Ref result, returned(PyObject_CallNoArgs(method.get())));
    if (!PyBool_Check(result.get())) return fail(type_mismatch(result.get(), "bool"));
    return result.get() == Py_True;
}
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
    KAV_PY_TRY_ASSIGN(Ref result, returned(PyObject_Call(type, arguments.get(), nullptr)));
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
// process, and is never destroyed: freed at exit, it would leave the time
// objects it held unreachable, which a leak checker counts as lost; the
// interpreter lock orders the writes.
PyResult<Ref> whole_second(std::uint32_t seconds) {
    static PyObject** const made = new PyObject*[kSecondsPerDay]();
    PyObject*& slot = made[seconds];
    if (slot == nullptr) {
        KAV_PY_TRY_ASSIGN(Ref time, new_time(TimeOfDay{seconds, 0}));
        slot = time.release();
    }
    return Ref::borrow(slot);
}

}  // namespace

PendingError type_mismatch(PyObject* object, std::string_view target) {
    // Appended piece by piece: chains of operator+ on temporaries draw a
    // false -Wrestrict from GCC 12 at -O2.
    std::string message = "'";
    if (object == Py_None) {
        message += "None' is not";
    } else {
        message += str_attribute(type_of(object), "__qualname__")
                       .value_or("<failed to extract type name>");
        message += "' object is not";
    }
    message += " an instance of '";
    message += target;
    message += '\'';
    return PendingError::new_error(PyExc_TypeError, std::move(message));
}

PendingError type_mismatch(PyObject* object, PyObject* target_type) {
    return type_mismatch(
        object,
        str_attribute(target_type, "__qualname__").value_or("<failed to extract type name>"));
}

PyResult<Ref> attribute_if_present(PyObject* object, const char* name) {
    Ref attribute = Ref::steal(PyObject_GetAttrString(object, name));
    if (!attribute) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return fail_fetched();
        PyErr_Clear();
    }
    return attribute;
}

PyResult<std::string> to_text(PyObject* object) {
    if (!PyUnicode_Check(object)) return fail(type_mismatch(object, "str"));
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) return fail_fetched();
    return std::string(data, static_cast<std::size_t>(size));
}

PyResult<double> to_double(PyObject* object) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) return fail_fetched();
    return value;
}

PyResult<bool> to_bool(PyObject* object) {
    if (PyBool_Check(object)) return object == Py_True;
    if (is_numpy_bool(object)) return numpy_bool_value(object);
    return fail(type_mismatch(object, "bool"));
}

PyResult<std::uint32_t> to_u32(PyObject* object) {
    Ref index;
    if (!PyLong_Check(object)) {
        index = Ref::steal(PyNumber_Index(object));
        if (!index) return fail_fetched();
        object = index.get();
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        return fail_fetched();
    }
    if (value > std::numeric_limits<std::uint32_t>::max()) {
        return fail(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<std::uint32_t>(value);
}

PyResult<TimeOfDay> to_time_of_day(PyObject* object) {
    KAV_PY_TRY_ASSIGN(PyObject * type, datetime_time_type());
    KAV_PY_TRY(require_time(object, type));
    constexpr std::array<const char*, 4> kFields{"hour", "minute", "second", "microsecond"};
    std::array<std::uint32_t, kFields.size()> values{};
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        KAV_PY_TRY_ASSIGN(Ref value, returned(PyObject_GetAttrString(object, kFields[i])));
        KAV_PY_TRY_ASSIGN(values[i], to_u32(value.get()));
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

// Shared converters, the type-mismatch TypeError and attribute lookup.
#include "converters.hpp"

#include <limits>
#include <optional>
#include <utility>


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
    Ref result = Ref::steal(PyObject_CallNoArgs(method.get()));
    if (!result) return fail_fetched();
    if (!PyBool_Check(result.get())) return fail(type_mismatch(result.get(), "bool"));
    return result.get() == Py_True;
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

}  // namespace kav::py

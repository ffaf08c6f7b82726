#include "input_bytes.hpp"

#include <cstddef>

namespace kav::batch {

bool take_input_bytes(PyObject* data, const char* function, InputBytes& out) noexcept {
    if (PyBytes_CheckExact(data)) {
        char* start = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(data, &start, &size) != 0) return false;
        out.holder = new_reference(data);
        out.view = std::string_view(start, static_cast<std::size_t>(size));
        return true;
    }
    if (PyByteArray_CheckExact(data)) {
        out.holder = Owned(PyMemoryView_FromObject(data));
        if (!out.holder) return false;
        out.view = std::string_view(PyByteArray_AsString(data),
                                    static_cast<std::size_t>(PyByteArray_Size(data)));
        return true;
    }
    Owned exported(PyMemoryView_FromObject(data));
    if (!exported) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) == 0) return false;
        PyErr_Clear();
        Owned type_name(
            PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(data)), "__name__"));
        if (!type_name) return false;
        PyErr_Format(PyExc_TypeError,
                     "%s() needs bytes, a bytearray or another buffer of bytes, not %U", function,
                     type_name.get());
        return false;
    }
    Owned copy(PyBytes_FromObject(exported.get()));
    if (!copy) return false;
    return take_input_bytes(copy.get(), function, out);
}

bool take_prefix(PyObject* size, const char* function, InputBytes& out) noexcept {
    if (size == nullptr || size == Py_None) return true;
    const Py_ssize_t end = PyLong_AsSsize_t(size);
    if (end == -1 && PyErr_Occurred() != nullptr) return false;
    if (end < 0 || static_cast<std::size_t>(end) > out.view.size()) {
        PyErr_Format(PyExc_ValueError, "%s() size %zd is outside the %zu bytes given", function,
                     end, out.view.size());
        return false;
    }
    out.view = out.view.substr(0, static_cast<std::size_t>(end));
    return true;
}

}  // namespace kav::batch

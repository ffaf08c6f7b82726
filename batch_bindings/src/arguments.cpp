#include "arguments.hpp"

#include <algorithm>

namespace kav::batch {

bool parse_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames, std::span<PyObject*> values) noexcept {
    std::fill(values.begin(), values.end(), nullptr);
    const auto given = static_cast<std::size_t>(nargs);
    if (given > signature.positional) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zu positional arguments (%zd given)",
                     signature.function, signature.positional, nargs);
        return false;
    }
    std::copy(args, args + nargs, values.begin());
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = PyTuple_GetItem(kwnames, k);
        std::size_t index = 0;
        while (index < signature.names.size() &&
               PyUnicode_CompareWithASCIIString(keyword, signature.names[index]) != 0) {
            ++index;
        }
        if (index == signature.names.size()) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument %R",
                         signature.function, keyword);
            return false;
        }
        if (values[index] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         signature.function, signature.names[index]);
            return false;
        }
        values[index] = args[nargs + k];
    }
    for (std::size_t index = 0; index < signature.required; ++index) {
        if (values[index] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'",
                         signature.function, signature.names[index]);
            return false;
        }
    }
    return true;
}

}  // namespace kav::batch

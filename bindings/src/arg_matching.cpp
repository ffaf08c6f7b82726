// Argument matching for both calling conventions.
#include "arg_matching.hpp"

#include <algorithm>
#include <vector>

namespace kav::py {

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(const std::span<const std::string_view> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += names.size() == 2 ? " and " : ", ";
        if (i > 0 && i + 1 == names.size() && names.size() > 2) list += "and ";
        list += "'";
        list += names[i];
        list += "'";
    }
    return list;
}

PyResult<Done> keyword(const Signature& signature, std::span<PyObject*> out, PyObject* name,
                       PyObject* value) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(name, &size);
    if (data == nullptr) return fail_fetched();
    const std::string keyword(data, static_cast<std::size_t>(size));
    const auto found = std::find(signature.names.begin(), signature.names.end(), keyword);
    if (found == signature.names.end()) {
        return fail(PyExc_TypeError, signature.display_name() +
                                         " got an unexpected keyword argument '" + keyword + "'");
    }
    PyObject*& slot = out[static_cast<std::size_t>(found - signature.names.begin())];
    if (slot != nullptr) {
        return fail(PyExc_TypeError, signature.display_name() +
                                         " got multiple values for argument '" + keyword + "'");
    }
    slot = value;
    return done;
}

// The steps in their order, for `nargs` positional arguments that
// positional(i) hands over and `nkeywords` keywords that keyword_at(i) matches.
template <class Positional, class KeywordAt>
PyResult<Done> match(const Signature& signature, std::span<PyObject*> out, Py_ssize_t nargs,
                     Positional&& positional, Py_ssize_t nkeywords, KeywordAt&& keyword_at) {
    if (nargs < 0 || nkeywords < 0) return fail_fetched();
    if (static_cast<std::size_t>(nargs) > out.size()) {
        return fail(PyExc_TypeError, signature.display_name() + " takes " +
                                         std::to_string(out.size()) + " positional arguments but " +
                                         std::to_string(nargs) + (nargs == 1 ? " was" : " were") +
                                         " given");
    }
    std::fill(out.begin(), out.end(), nullptr);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = positional(i);
    for (Py_ssize_t i = 0; i < nkeywords; ++i) {
        KAV_PY_TRY(keyword_at(i));
    }
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i] == nullptr) missing.push_back(signature.names[i]);
    }
    if (missing.empty()) return done;
    return fail(PyExc_TypeError,
                signature.display_name() + " missing " + std::to_string(missing.size()) +
                    " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                    quoted_list(missing));
}

}  // namespace

std::string Signature::display_name() const {
    return std::string(owner) + (owner.empty() ? "" : ".") + std::string(callable) + "()";
}

PyResult<Done> match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                               std::span<PyObject*> out) {
    Py_ssize_t position = 0;
    return match(
        signature, out, PyTuple_Size(args), [&](Py_ssize_t i) { return PyTuple_GetItem(args, i); },
        kwargs == nullptr ? 0 : PyDict_Size(kwargs),
        [&](Py_ssize_t) {
            PyObject* name = nullptr;
            PyObject* value = nullptr;
            if (!PyDict_Next(kwargs, &position, &name, &value)) return PyResult<Done>(done);
            return keyword(signature, out, name, value);
        });
}

PyResult<Done> match_all_arguments(const Signature& signature, PyObject* const* args,
                                   Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) {
    return match(
        signature, out, nargs, [&](Py_ssize_t i) { return args[i]; },
        kwnames == nullptr ? 0 : PyTuple_Size(kwnames),
        [&](Py_ssize_t i) {
            return keyword(signature, out, PyTuple_GetItem(kwnames, i), args[nargs + i]);
        });
}

}  // namespace kav::py

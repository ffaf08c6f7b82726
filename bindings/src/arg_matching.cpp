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

// The shared steps, fed by either front end.
class Matcher {
  public:
    Matcher(const Signature& signature, std::span<PyObject*> out)
        : signature_(signature), out_(out) {
        std::fill(out_.begin(), out_.end(), nullptr);
    }

    PyResult<Done> check_positional_count(Py_ssize_t given) const {
        if (static_cast<std::size_t>(given) <= out_.size()) return done;
        return fail(PyExc_TypeError, signature_.display_name() + " takes " +
                                         std::to_string(out_.size()) +
                                         " positional arguments but " + std::to_string(given) +
                                         (given == 1 ? " was" : " were") + " given");
    }

    void positional(std::size_t index, PyObject* value) noexcept { out_[index] = value; }

    PyResult<Done> keyword(PyObject* name, PyObject* value) {
        Py_ssize_t size = 0;
        const char* data = PyUnicode_AsUTF8AndSize(name, &size);
        if (data == nullptr) return fail_fetched();
        const std::string_view keyword(data, static_cast<std::size_t>(size));
        const auto found = std::find(signature_.names.begin(), signature_.names.end(), keyword);
        if (found == signature_.names.end()) {
            return fail(PyExc_TypeError, signature_.display_name() +
                                             " got an unexpected keyword argument '" +
                                             std::string(keyword) + "'");
        }
        PyObject*& slot = out_[static_cast<std::size_t>(found - signature_.names.begin())];
        if (slot != nullptr) {
            return fail(PyExc_TypeError, signature_.display_name() +
                                             " got multiple values for argument '" +
                                             std::string(keyword) + "'");
        }
        slot = value;
        return done;
    }

    PyResult<Done> check_all_given() const {
        std::vector<std::string_view> missing;
        for (std::size_t i = 0; i < out_.size(); ++i) {
            if (out_[i] == nullptr) missing.push_back(signature_.names[i]);
        }
        if (missing.empty()) return done;
        return fail(PyExc_TypeError,
                    signature_.display_name() + " missing " + std::to_string(missing.size()) +
                        " required positional argument" + (missing.size() == 1 ? "" : "s") + ": " +
                        quoted_list(missing));
    }

  private:
    const Signature& signature_;
    std::span<PyObject*> out_;
};

}  // namespace

std::string Signature::display_name() const {
    std::string text;
    if (!owner.empty()) {
        text += owner;
        text += '.';
    }
    text += callable;
    text += "()";
    return text;
}

PyResult<Done> match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                               std::span<PyObject*> out) {
    Matcher matcher(signature, out);
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (nargs < 0) return fail_fetched();
    KAV_PY_TRY(matcher.check_positional_count(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        matcher.positional(static_cast<std::size_t>(i), PyTuple_GetItem(args, i));
    }
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            KAV_PY_TRY(matcher.keyword(name, value));
        }
    }
    return matcher.check_all_given();
}

PyResult<Done> match_all_arguments(const Signature& signature, PyObject* const* args,
                                   Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out) {
    Matcher matcher(signature, out);
    KAV_PY_TRY(matcher.check_positional_count(nargs));
    for (Py_ssize_t i = 0; i < nargs; ++i) matcher.positional(static_cast<std::size_t>(i), args[i]);
    const Py_ssize_t nkeywords = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    if (nkeywords < 0) return fail_fetched();
    for (Py_ssize_t i = 0; i < nkeywords; ++i) {
        KAV_PY_TRY(matcher.keyword(PyTuple_GetItem(kwnames, i), args[nargs + i]));
    }
    return matcher.check_all_given();
}

}  // namespace kav::py

// Argument matching: binding a call's arguments to named parameters with the
// interpreter's own wording of every TypeError.
//
// Every callable of this module takes only required parameters that may be
// given by position or by keyword. The checks run in a fixed order, which
// decides the error a caller sees when several things are wrong: too many
// positional arguments, then each keyword in the caller's order (unknown,
// then already given), then the missing parameters. Conversions come after.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "pending_error.hpp"

namespace kav::py {

struct Signature {
    std::string_view owner;     // the class name, empty for a module function
    std::string_view callable;  // "__new__", "__init__" or the function's name
    std::span<const std::string_view> names;

    // "ICAOAddress.__new__()", or "parse_kav_aprs_aircraft_beacon()".
    std::string display_name() const;
};

// The matched arguments: one borrowed reference per parameter, in declaration
// order. Valid for as long as the call's own argument tuple or array.
template <std::size_t N>
using Arguments = std::array<PyObject*, N>;

// A call in tuple and dictionary form (tp_new, tp_init); `kwargs` may be null.
PyResult<Done> match_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                               std::span<PyObject*> out);
// A call in vector form (METH_FASTCALL | METH_KEYWORDS): `nargs` positional
// arguments, then one value for each name in the `kwnames` tuple (may be null).
PyResult<Done> match_all_arguments(const Signature& signature, PyObject* const* args,
                                   Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out);

// The same, inline for the call nearly every caller makes: every parameter by
// position and no keywords, which cannot fail. The parse function pays this on
// every line, so the general matcher is not entered for it.
inline PyResult<Done> match_arguments(const Signature& signature, PyObject* const* args,
                                      Py_ssize_t nargs, PyObject* kwnames,
                                      std::span<PyObject*> out) {
    if (kwnames == nullptr && static_cast<std::size_t>(nargs) == out.size()) {
        std::copy_n(args, out.size(), out.begin());
        return done;
    }
    return match_all_arguments(signature, args, nargs, kwnames, out);
}

// The conversion of parameter (or attribute) `name`, with an exact TypeError
// rewritten to name it.
template <class T>
PyResult<T> named(std::string_view name, PyResult<T> converted) {
    if (converted) return converted;
    return fail(std::move(converted).error().with_argument_prefix(name));
}

}  // namespace kav::py

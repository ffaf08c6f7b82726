// PendingError and PyResult: errors as values until the call guard, the
// wrapper of every function the interpreter calls.
//
// Code below an entry point never sets the interpreter's current exception and
// leaves it set: it returns a PendingError, which the call guard hands to the
// interpreter on the way out. That keeps every failure visible in the types,
// lets a caller rewrite an error (the argument prefix) before anyone sees it,
// and lets the exception object be made only when it is really raised.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "py_ref.hpp"
#include "result.hpp"

namespace kav::py {

class PendingError {
  public:
    // `type` is one of the interpreter's exception classes (PyExc_*); the
    // exception itself is made only when it is raised, from the message as a
    // str. Should there be no memory for that str, the result is MemoryError.
    static PendingError new_error(PyObject* type, std::string_view message);
    // The same with the message made already; a null `message` (its making
    // failed) gives the interpreter's current exception instead.
    static PendingError new_error(PyObject* type, Ref message);
    // Takes over the interpreter's current exception. Should an interpreter
    // call have failed without setting one, the result is a SystemError.
    static PendingError fetch();
    // A broken invariant of this module. Writes a diagnostic to standard error
    // now; raised as the internal-failure class, which derives directly from
    // BaseException so that `except Exception` does not swallow it.
    static PendingError internal_failure(std::string_view message);
    // A `type` exception with `message` whose __cause__ is `cause`.
    static PendingError caused_by(PyObject* type, std::string_view message, PendingError cause);

    PendingError(PendingError&&) noexcept = default;
    PendingError& operator=(PendingError&&) noexcept = default;

    // True when the exception's class is `type` itself, not a subclass.
    bool is_exactly(PyObject* type) const noexcept;
    // Names the failing argument: an exception of exactly TypeError becomes a
    // new TypeError "argument '<name>': <str of the old one>" carrying the old
    // one's __cause__ (none stays none); any other exception passes unchanged.
    PendingError with_argument_prefix(std::string_view name) &&;
    // Makes this the interpreter's current exception.
    void restore() && noexcept;
    // The exception object itself (for a __cause__ or a report); null if even
    // that cannot be built, with the interpreter's error then cleared.
    Ref into_exception() &&;

  private:
    // Deferred: raised as type_(value_), value_ the message (a str), with the
    //   exception being handled as its __context__, as any raise does.
    // Fetched: type_, value_ and traceback_ as PyErr_Fetch gave them.
    // Internal: raised as the internal-failure class, value_ the message.
    enum class Kind : unsigned char { Deferred, Fetched, Internal };
    PendingError(Kind kind, Ref type, Ref value, Ref traceback = {}) noexcept
        : kind_(kind),
          type_(std::move(type)),
          value_(std::move(value)),
          traceback_(std::move(traceback)) {}

    Kind kind_;
    Ref type_, value_, traceback_;
};

// The result of every fallible step of this layer.
template <class T>
using PyResult = kav::Result<T, PendingError>;

// The value of a step that only succeeds or fails.
struct Done {};
inline constexpr Done done{};

inline kav::Err<PendingError> fail(PendingError error) {
    return {std::move(error)};
}
inline kav::Err<PendingError> fail(PyObject* type, std::string_view message) {
    return fail(PendingError::new_error(type, message));
}
// The interpreter's current exception as a failed result, after an interpreter
// call reported failure.
inline kav::Err<PendingError> fail_fetched() {
    return fail(PendingError::fetch());
}
// The new reference an interpreter call returned; its exception when null.
inline PyResult<Ref> returned(Ref object) {
    if (!object) return fail_fetched();
    return object;
}
inline PyResult<Ref> returned(PyObject* object) {
    return returned(Ref::steal(object));
}

// The call guard. No C++ exception may unwind into the interpreter, and an
// error must become the interpreter's exception exactly once, on the way out:
// the guard turns a failed PyResult into the current exception and the slot's
// failure value (null or -1). Exhausted memory anywhere in the body becomes
// MemoryError: every body converts before it stores, so the instance it works
// on is then as it was before the call. Any other escaping C++ exception is a
// broken invariant and is raised as the internal-failure class. Deallocation
// entries are plain noexcept functions instead: they cannot report an error,
// and std::terminate is the only sound answer to an exception escaping one.

// Raises the exception being handled (in a catch block) as described above.
void raise_escaped_exception() noexcept;

// For entries that return an object: body() -> PyResult<Ref>.
template <class Body>
PyObject* guard_object(Body&& body) noexcept {
    try {
        PyResult<Ref> result = body();
        if (result) return std::move(result).value().release();
        std::move(result).error().restore();
    } catch (...) {
        raise_escaped_exception();
    }
    return nullptr;
}

// For entries that return a status: body() -> PyResult<Done>; 0 or -1.
template <class Body>
int guard_status(Body&& body) noexcept {
    try {
        PyResult<Done> result = body();
        if (result) return 0;
        std::move(result).error().restore();
    } catch (...) {
        raise_escaped_exception();
    }
    return -1;
}

}  // namespace kav::py

// Early return of a failed PyResult from the enclosing function (whose result
// may carry another value type).
#define KAV_PY_CONCAT_INNER(a, b) a##b
#define KAV_PY_CONCAT(a, b) KAV_PY_CONCAT_INNER(a, b)
#define KAV_PY_TRY_IMPL(tmp, expr) \
    auto&& tmp = (expr);           \
    if (!tmp) return ::kav::py::fail(std::move(tmp).error())
// KAV_PY_TRY(step);                 -- propagate a failure, ignore the value
#define KAV_PY_TRY(expr) KAV_PY_TRY_IMPL(KAV_PY_CONCAT(kav_py_try_, __LINE__), expr)
// KAV_PY_TRY_ASSIGN(auto x, step);  -- propagate a failure, else bind the value
#define KAV_PY_TRY_ASSIGN(decl, expr)                            \
    KAV_PY_TRY_IMPL(KAV_PY_CONCAT(kav_py_try_, __LINE__), expr); \
    decl = std::move(KAV_PY_CONCAT(kav_py_try_, __LINE__)).value()

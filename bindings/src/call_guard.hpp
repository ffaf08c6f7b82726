// The call guard: the wrapper of every function the interpreter calls.
//
// No C++ exception may unwind into the interpreter, and an error must become
// the interpreter's exception exactly once, on the way out. The body returns a
// PyResult; the guard turns a failure into the current exception and the
// slot's failure value (null or -1). Exhausted memory anywhere in the body
// becomes MemoryError: every body converts before it stores, so the instance it
// works on is then as it was before the call. Any other escaping C++ exception
// is a broken invariant and is raised as the internal-failure class.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "pending_error.hpp"

namespace kav::py {

namespace detail {
inline void raise_internal_failure(const char* what) noexcept {
    try {
        PendingError::internal_failure(what).restore();
    } catch (...) {
        PyErr_NoMemory();
    }
}

inline void raise_escaped_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_internal_failure(error.what());
    } catch (...) {
        raise_internal_failure("unknown C++ exception");
    }
}
}  // namespace detail

// For entries that return an object: body() -> PyResult<Ref>.
template <class Body>
PyObject* guard_object(Body&& body) noexcept {
    try {
        PyResult<Ref> result = body();
        if (result) return std::move(result).value().release();
        std::move(result).error().restore();
    } catch (...) {
        detail::raise_escaped_exception();
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
        detail::raise_escaped_exception();
    }
    return -1;
}

// Deallocation entries are plain noexcept functions: they cannot report an
// error, and a C++ exception escaping one ends the process through
// std::terminate, which is the only sound answer there.

}  // namespace kav::py

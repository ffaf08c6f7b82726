// PendingError: building, rewriting and raising the errors of this layer.
#include "pending_error.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "first_use.hpp"

namespace kav::py {

namespace {

constexpr const char* kInternalFailureName = "kav_aprs_parser_pyo3.InternalFailure";
constexpr const char* kInternalFailureDoc =
    "Raised when the module finds one of its own invariants broken.\n\n"
    "Derives from BaseException so that `except Exception` does not hide it.";

// The internal-failure class, created on the first internal failure. Without
// it the failure could not be reported at all, so that ends the process.
PyObject* internal_failure_class() noexcept {
    static OnceCache<PyObject*> cache;
    PyResult<PyObject*> created = cache.get_or_init([]() -> PyResult<PyObject*> {
        PyObject* type = PyErr_NewExceptionWithDoc(kInternalFailureName, kInternalFailureDoc,
                                                   PyExc_BaseException, nullptr);
        if (type == nullptr) return fail_fetched();
        return type;  // kept for the life of the process
    });
    if (!created) {
        std::fputs("kav_aprs_parser_pyo3: Failed to initialize new exception type.\n", stderr);
        std::abort();
    }
    return created.value();
}

// str(exception) as UTF-8; the class name when even that fails.
std::string text_of(PyObject* exception) {
    Ref text = Ref::steal(PyObject_Str(exception));
    Py_ssize_t size = 0;
    const char* data = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return "<unprintable exception>";
    }
    return std::string(data, static_cast<std::size_t>(size));
}

void raise_internal_failure(const char* what) noexcept {
    try {
        PendingError::internal_failure(what).restore();
    } catch (...) {
        PyErr_NoMemory();
    }
}

}  // namespace

void raise_escaped_exception() noexcept {
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

PendingError PendingError::new_error(PyObject* type, std::string_view message) {
    return new_error(type, new_str(message));
}

PendingError PendingError::new_error(PyObject* type, Ref message) {
    if (!message) return fetch();
    return PendingError(Kind::Deferred, Ref::borrow(type), std::move(message));
}

PendingError PendingError::fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return new_error(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return PendingError(Kind::Fetched, Ref::steal(type), Ref::steal(value), Ref::steal(traceback));
}

PendingError PendingError::internal_failure(std::string_view message) {
    if (message.empty()) message = "internal failure";
    std::fprintf(stderr, "kav_aprs_parser_pyo3: internal failure: %.*s\n",
                 static_cast<int>(message.size()), message.data());
    Ref text = new_str(message);
    if (!text) return fetch();
    return PendingError(Kind::Internal, Ref(), std::move(text));
}

PendingError PendingError::caused_by(PyObject* type, std::string_view message, PendingError cause) {
    Ref text = new_str(message);
    Ref exception =
        text ? Ref::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr)) : Ref();
    if (!exception) return fetch();
    Ref cause_object = std::move(cause).into_exception();
    if (cause_object) PyException_SetCause(exception.get(), cause_object.release());
    return PendingError(Kind::Fetched, Ref::borrow(type), std::move(exception));
}

bool PendingError::is_exactly(PyObject* type) const noexcept {
    return kind_ != Kind::Internal && type_.get() == type;
}

PendingError PendingError::with_argument_prefix(std::string_view name) && {
    if (!is_exactly(PyExc_TypeError)) return std::move(*this);
    std::string prefix = "argument '" + std::string(name) + "': ";
    if (kind_ == Kind::Deferred) {
        Ref text = new_str(prefix);
        if (!text) return fetch();
        return new_error(PyExc_TypeError, Ref::steal(PyUnicode_Concat(text.get(), value_.get())));
    }
    Ref original = std::move(*this).into_exception();
    if (!original) return fetch();
    Ref cause = Ref::steal(PyException_GetCause(original.get()));
    Ref text = new_str(prefix + text_of(original.get()));
    Ref replacement =
        text ? Ref::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr))
             : Ref();
    if (!replacement) return fetch();
    if (cause) PyException_SetCause(replacement.get(), cause.release());
    return PendingError(Kind::Fetched, Ref::borrow(PyExc_TypeError), std::move(replacement));
}

void PendingError::restore() && noexcept {
    switch (kind_) {
        case Kind::Fetched:
            PyErr_Restore(type_.release(), value_.release(), traceback_.release());
            return;
        case Kind::Deferred:
            PyErr_SetObject(type_.get(), value_.get());
            return;
        case Kind::Internal:
            PyErr_SetObject(internal_failure_class(), value_.get());
            return;
    }
}

Ref PendingError::into_exception() && {
    if (kind_ != Kind::Fetched) {
        std::move(*this).restore();
        return std::move(fetch()).into_exception();
    }
    PyObject* type = type_.release();
    PyObject* value = value_.release();
    PyObject* traceback = traceback_.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref owned_type = Ref::steal(type);
    Ref owned_traceback = Ref::steal(traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    return Ref::steal(value);
}

}  // namespace kav::py

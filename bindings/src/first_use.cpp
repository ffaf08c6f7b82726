// Creation of type objects (see first_use.hpp), kept out of line so that
// LazyType::get() stays small enough to inline into every caller.
#include "first_use.hpp"

#include <string>

namespace kav::py {

PyResult<PyTypeObject*> LazyType::create() {
    Ref type = Ref::steal(PyType_FromSpec(&spec_));
    if (!type) {
        // Some interpreters (3.11 among them) fail without an error when the
        // copy of the type's name cannot be allocated. The specs are fixed at
        // compile time, so nothing but memory can fail one.
        if (PyErr_Occurred() == nullptr) PyErr_NoMemory();
        return creation_failed(PendingError::fetch());
    }
    if (fill_ != nullptr) {
        PyResult<Done> filled = fill_(reinterpret_cast<PyTypeObject*>(type.get()));
        if (!filled) return creation_failed(std::move(filled).error());
    }
    // The cache keeps this reference for the life of the process.
    return reinterpret_cast<PyTypeObject*>(type.release());
}

// Exhausted memory is no broken invariant: its MemoryError goes to the caller
// as it is, and nothing of this attempt is cached.
PyResult<PyTypeObject*> LazyType::creation_failed(PendingError error) {
    if (error.is_exactly(PyExc_MemoryError)) return fail(std::move(error));
    std::move(error).restore();
    PyErr_WriteUnraisable(nullptr);
    return fail(PendingError::internal_failure("failed to create type object for `" +
                                               std::string(class_name_) + "`"));
}

}  // namespace kav::py

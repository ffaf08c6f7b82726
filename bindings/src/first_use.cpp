// Creation of type objects and their class attributes (see first_use.hpp).
#include "first_use.hpp"

#include <string>

namespace kav::py {

namespace {

// A failed attribute step becomes a RuntimeError naming `step`, caused by the
// failure; exhausted memory needs no naming and passes unchanged.
PendingError attribute_step_failed(std::string step, PendingError cause) {
    if (cause.is_exactly(PyExc_MemoryError)) return cause;
    return PendingError::caused_by(PyExc_RuntimeError, std::move(step), std::move(cause));
}

}  // namespace

PyResult<PyTypeObject*> LazyType::create() {
    // Room for the attribute values first, so that what is created can be kept.
    std::vector<PyObject*> kept;
    kept.reserve(attributes_.names.size());
    Ref type = Ref::steal(PyType_FromSpec(&spec_));
    if (!type) {
        // Some interpreters (3.11 among them) fail without an error when the
        // copy of the type's name cannot be allocated. The specs are fixed at
        // compile time, so nothing but memory can fail one.
        if (PyErr_Occurred() == nullptr) PyErr_NoMemory();
        return creation_failed(PendingError::fetch());
    }
    PyResult<std::vector<Ref>> values =
        add_class_attributes(reinterpret_cast<PyTypeObject*>(type.get()));
    if (!values) return creation_failed(std::move(values).error());
    // The cache and the attribute table keep these references for the life
    // of the process.
    for (Ref& value : values.value()) kept.push_back(value.release());
    attribute_values_ = std::move(kept);
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

// Every attribute value is made before any is set, as one step each, so that
// a failure names the step that failed.
PyResult<std::vector<Ref>> LazyType::add_class_attributes(PyTypeObject* type) {
    const std::string prefix = "An error occurred while initializing `" + std::string(class_name_);
    std::vector<Ref> values;
    values.reserve(attributes_.names.size());
    for (std::size_t i = 0; i < attributes_.names.size(); ++i) {
        PyResult<Ref> value = attributes_.make(type, i);
        if (!value) {
            return fail(attribute_step_failed(prefix + "." + attributes_.names[i] + "`",
                                              std::move(value).error()));
        }
        values.push_back(std::move(value).value());
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), attributes_.names[i],
                                   values[i].get()) < 0) {
            return fail(attribute_step_failed(prefix + ".__dict__`", PendingError::fetch()));
        }
    }
    return values;
}

}  // namespace kav::py

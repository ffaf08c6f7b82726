// Creation of type objects and their class attributes.
#include "lazy_type.hpp"

#include <string>
#include <vector>

namespace kav::py {

PyResult<PyTypeObject*> LazyType::create() {
    Ref type = Ref::steal(PyType_FromSpec(&spec_));
    PyResult<Done> filled =
        type ? add_class_attributes(reinterpret_cast<PyTypeObject*>(type.get())) : fail_fetched();
    if (!filled) {
        std::move(filled).error().restore();
        PyErr_WriteUnraisable(nullptr);
        return fail(PendingError::internal_failure("failed to create type object for `" +
                                                   std::string(class_name_) + "`"));
    }
    // The cache keeps this reference for the life of the process.
    return reinterpret_cast<PyTypeObject*>(type.release());
}

// Every attribute value is made before any is set, as one step each, so that
// a failure names the step that failed.
PyResult<Done> LazyType::add_class_attributes(PyTypeObject* type) {
    const std::string prefix = "An error occurred while initializing `" + std::string(class_name_);
    std::vector<Ref> values;
    values.reserve(attributes_.names.size());
    for (std::size_t i = 0; i < attributes_.names.size(); ++i) {
        PyResult<Ref> value = attributes_.make(type, i);
        if (!value) {
            return fail(PendingError::caused_by(PyExc_RuntimeError,
                                                prefix + "." + attributes_.names[i] + "`",
                                                std::move(value).error()));
        }
        values.push_back(std::move(value).value());
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), attributes_.names[i],
                                   values[i].get()) < 0) {
            return fail(PendingError::caused_by(PyExc_RuntimeError, prefix + ".__dict__`",
                                                PendingError::fetch()));
        }
    }
    return done;
}

}  // namespace kav::py

// The add operation of the module's execution step.
#include "module_add.hpp"

#include "converters.hpp"
#include "interned_names.hpp"

namespace kav::py {

namespace {

// The module's __all__, made an empty list when the module has none yet.
PyResult<Ref> public_names(PyObject* module) {
    KAV_PY_TRY_ASSIGN(Ref names, attribute_if_present(module, Name::all));
    if (!names) {
        names = Ref::steal(PyList_New(0));
        if (!names || PyObject_SetAttrString(module, "__all__", names.get()) < 0) {
            return fail_fetched();
        }
    }
    if (!PyList_Check(names.get())) return fail(type_mismatch(names.get(), "list"));
    return names;
}

}  // namespace

PyResult<Done> add_to_module(PyObject* module, PyObject* name, PyObject* object) {
    KAV_PY_TRY_ASSIGN(Ref names, public_names(module));
    // Appending to a list fails only when memory is gone, which the caller
    // hears of as the MemoryError it is; any other failure breaks the rules of
    // lists.
    if (PyList_Append(names.get(), name) < 0) {
        PendingError error = PendingError::fetch();
        if (error.is_exactly(PyExc_MemoryError)) return fail(std::move(error));
        return fail(PendingError::internal_failure("could not append __name__ to __all__"));
    }
    if (PyObject_SetAttr(module, name, object) < 0) return fail_fetched();
    return done;
}

}  // namespace kav::py

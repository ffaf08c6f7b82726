// The module kav_aprs_parser_pyo3 (multi-phase initialisation): its one
// execution step fills it with the parse function and the seven classes.
#include "classes.hpp"
#include "converters.hpp"

namespace kav::py {

namespace {

// The module's __all__, made an empty list when the module has none yet.
PyResult<Ref> public_names(PyObject* module) {
    KAV_PY_TRY_ASSIGN(Ref names, attribute_if_present(module, "__all__"));
    if (!names) {
        names = Ref::steal(PyList_New(0));
        if (!names || PyObject_SetAttrString(module, "__all__", names.get()) < 0) {
            return fail_fetched();
        }
    }
    if (!PyList_Check(names.get())) return fail(type_mismatch(names.get(), "list"));
    return names;
}

// One public name: recorded in __all__ and set as a module attribute.
PyResult<Done> add(PyObject* module, std::string_view name, PyObject* object) {
    Ref name_object = new_str(name);
    if (!name_object) return fail_fetched();
    KAV_PY_TRY_ASSIGN(Ref names, public_names(module));
    if (PyList_Append(names.get(), name_object.get()) < 0 ||
        PyObject_SetAttr(module, name_object.get(), object) < 0) {
        return fail_fetched();
    }
    return done;
}

// A class, under its own name.
template <class Class>
PyResult<Done> add_class(PyObject* module) {
    KAV_PY_TRY_ASSIGN(PyTypeObject * type, Class::type());
    return add(module, Class::name, reinterpret_cast<PyObject*>(type));
}

// Additions in the order __all__ lists them.
PyResult<Done> fill_module(PyObject* module) {
    if (!PyModule_Check(module)) {
        return fail(type_mismatch(module, reinterpret_cast<PyObject*>(&PyModule_Type)));
    }
    KAV_PY_TRY_ASSIGN(Ref parse_function, new_parse_function(module));
    KAV_PY_TRY(add(module, kParseFunctionName, parse_function.get()));
    KAV_PY_TRY(add_class<AircraftBeaconClass>(module));
    KAV_PY_TRY(add_class<ICAOAddressClass>(module));
    KAV_PY_TRY(add_class<EnumClass<kav::KAVAddressType>>(module));
    KAV_PY_TRY(add_class<EnumClass<kav::KAVAircraftType>>(module));
    KAV_PY_TRY(add_class<EnumClass<kav::KAVAPRSProtocol>>(module));
    KAV_PY_TRY(add_class<KAVBeaconIDClass>(module));
    KAV_PY_TRY(add_class<KAVIDPrefixClass>(module));
    return done;
}

int module_exec(PyObject* module) noexcept {
    return guard_status([&] { return fill_module(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kav_aprs_parser_pyo3",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace kav::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_kav_aprs_parser_pyo3() {
    return PyModuleDef_Init(&kav::py::module_def);
}

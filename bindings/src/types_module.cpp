// Module definition of kav_aprs_parser_pyo3 (multi-phase initialisation).
#include <Python.h>

namespace {

int module_exec(PyObject* /*module*/) { return 0; }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "kav_aprs_parser_pyo3", "", 0, nullptr, module_slots, nullptr, nullptr,
    nullptr,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_kav_aprs_parser_pyo3() {
    return PyModuleDef_Init(&module_def);
}

// What the module kav_aprs._native keeps: its types, which its functions and
// the methods of its types create instances of.
#pragma once

#include "python_glue.hpp"

namespace kav::batch {

struct ModuleState {
    PyObject* arrow_batch_type;
    PyObject* decoded_type;
    PyObject* frame_type;
    PyObject* line_framer_type;
    PyObject* write_turn_type;
};

inline ModuleState& state_of(PyObject* module) noexcept {
    return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// The state of the module that defined `type`, one of the module's own types.
inline ModuleState& state_of_type(PyTypeObject* type) noexcept {
    return *static_cast<ModuleState*>(PyType_GetModuleState(type));
}

inline PyTypeObject* as_type(PyObject* type) noexcept {
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace kav::batch

// The one way this layer includes the interpreter's headers, and Ref, the
// single owner of one strong reference to a Python object.
//
// The module is built once against the 3.10 stable ABI and must stay correct
// on every later interpreter, so reference counts are changed only through the
// exported functions Py_IncRef and Py_DecRef: the 3.10 limited headers expand
// Py_INCREF and Py_DECREF into inline writes to ob_refcnt, whose layout later
// interpreters are free to change. Never use those macros (nor Py_XDECREF,
// Py_CLEAR, Py_NewRef, Py_RETURN_NONE and friends, which expand to them).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>
#include <utility>

namespace kav::py {

// Every owned PyObject* in this layer lives in a Ref, so that each early return
// on an error releases exactly what was taken and nothing is paired by hand.
class Ref {
  public:
    Ref() noexcept = default;
    // Takes over a new reference (the result of most interpreter calls); null stays null.
    static Ref steal(PyObject* object) noexcept { return Ref(object); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* object) noexcept {
        if (object != nullptr) Py_IncRef(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref old(std::exchange(object_, std::exchange(other.object_, nullptr)));
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() {
        if (object_ != nullptr) Py_DecRef(object_);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller (an interpreter slot's return value,
    // or a function that steals its argument).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

  private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// A new str of the UTF-8 `text`; null, with the exception set, on failure.
inline Ref new_str(std::string_view text) noexcept {
    return Ref::steal(
        PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace kav::py

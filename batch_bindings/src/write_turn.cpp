// The WriteTurn type: a WriteTurn made in place, and withdraw() for a batch
// that fails before it reaches its write.
#include "write_turn.hpp"

#include <new>

namespace kav::batch {

WriteTurn::Outcome WriteTurn::wait() noexcept {
    std::unique_lock lock(mutex_);
    settled_.wait(lock, [this] { return peek() != Outcome::Pending; });
    return peek();
}

void WriteTurn::settle(Outcome outcome) noexcept {
    {
        const std::lock_guard lock(mutex_);
        if (peek() != Outcome::Pending) return;
        outcome_.store(outcome, std::memory_order_release);
    }
    settled_.notify_all();
}

namespace {

// ---------------------------------------------------------------------------
// The object.

struct WriteTurnObject {
    PyObject_HEAD WriteTurn turn;
};

WriteTurnObject& object_of(PyObject* self) noexcept {
    return *reinterpret_cast<WriteTurnObject*>(self);
}

PyObject* new_instance(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    if (PyTuple_Size(args) != 0 || (kwargs != nullptr && PyDict_Size(kwargs) != 0)) {
        PyErr_SetString(PyExc_TypeError, "WriteTurn() takes no arguments");
        return nullptr;
    }
    Owned self = allocate_instance(type);
    if (!self) return nullptr;
    new (&object_of(self.get()).turn) WriteTurn();
    return self.release();
}

void dealloc(PyObject* self) noexcept {
    object_of(self).turn.~WriteTurn();
    free_instance(self);
}

// ---------------------------------------------------------------------------
// Methods.

PyObject* withdraw(PyObject* self, PyObject* /*unused*/) noexcept {
    object_of(self).turn.settle(WriteTurn::Outcome::Withdrawn);
    Py_IncRef(Py_None);
    return Py_None;
}

// ---------------------------------------------------------------------------
// The type.

PyMethodDef methods[] = {
    {"withdraw", &withdraw, METH_NOARGS,
     PyDoc_STR("withdraw($self, /)\n--\n\nGives the turn up unless it has passed: the batches waiting "
               "for it are not written.")},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(PyDoc_STR(
                    "The turn of one batch to write to an output, passed on by write_json_lines() "
                    "or write_csv_lines() once the batch is written."))},
    {Py_tp_new, reinterpret_cast<void*>(&new_instance)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

}  // namespace

PyObject* new_write_turn_type(PyObject* module) noexcept {
    return new_type<WriteTurnObject>(module, "kav_aprs._native.WriteTurn", slots,
                                     Py_TPFLAGS_DEFAULT);
}

WriteTurn* write_turn_of(PyObject* object, PyTypeObject* type) noexcept {
    if (PyObject_TypeCheck(object, type) == 0) return nullptr;
    return &object_of(object).turn;
}

}  // namespace kav::batch

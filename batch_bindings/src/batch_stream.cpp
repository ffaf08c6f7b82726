#include "batch_stream.hpp"

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "arrow_batch.hpp"
#include "arrow_export.hpp"
#include "beacon_columns.hpp"
#include "module_state.hpp"

namespace kav::batch {
namespace {

// The stream's private data. Every member that is a Python object is only
// touched with the interpreter lock held.
struct IteratorStream {
    PyObject* batches;     // the iterator, owned
    PyObject* batch_type;  // ArrowBatch, owned
    Table table;
    std::string last_error;
};

IteratorStream& of(ArrowArrayStream* stream) noexcept {
    return *static_cast<IteratorStream*>(stream->private_data);
}

// The interpreter lock for the length of a scope, from whatever thread.
class InterpreterLock {
  public:
    InterpreterLock() noexcept : state_(PyGILState_Ensure()) {}
    ~InterpreterLock() { PyGILState_Release(state_); }
    InterpreterLock(const InterpreterLock&) = delete;
    InterpreterLock& operator=(const InterpreterLock&) = delete;

  private:
    PyGILState_STATE state_;
};

int get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
    try {
        if (of(stream).table == Table::Beacons) {
            export_schema<BeaconColumns>(out);
        } else {
            export_schema<ErrorColumns>(out);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        of(stream).last_error = "out of memory while exporting the schema";
        return ENOMEM;
    }
}

// The pending exception as the stream's last error, "Type: text", and cleared.
int fail_with_exception(IteratorStream& state) noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    const Owned owned_type(type);
    const Owned owned_value(value);
    const Owned owned_traceback(traceback);
    Owned text(value != nullptr ? PyObject_Str(value) : nullptr);
    Owned name(type != nullptr ? PyObject_GetAttrString(type, "__name__") : nullptr);
    const char* name_text = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    const char* value_text = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    PyErr_Clear();
    try {
        state.last_error = std::string(name_text != nullptr ? name_text : "error") + ": " +
                           (value_text != nullptr ? value_text : "");
    } catch (const std::bad_alloc&) {
        state.last_error.clear();
    }
    return EIO;
}

int get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
    IteratorStream& state = of(stream);
    const InterpreterLock lock;
    Owned item(PyIter_Next(state.batches));
    if (!item) {
        if (PyErr_Occurred() != nullptr) return fail_with_exception(state);
        out->release = nullptr;  // the end of the stream
        return 0;
    }
    const char* name = state.table == Table::Beacons ? "beacons" : "errors";
    Owned batch(PyObject_GetAttrString(item.get(), name));
    if (!batch) return fail_with_exception(state);
    Table table = Table::Beacons;
    const std::shared_ptr<const DecodedLines> lines =
        lines_of_batch(batch.get(), as_type(state.batch_type), table);
    if (!lines) {
        PyErr_Format(PyExc_TypeError, "the stream's batches need an ArrowBatch in .%s, not %R",
                     name, reinterpret_cast<PyObject*>(Py_TYPE(batch.get())));
        return fail_with_exception(state);
    }
    try {
        if (state.table == Table::Beacons) {
            export_batch(std::shared_ptr<const BeaconColumns>(lines, &lines->beacons), out);
        } else {
            export_batch(std::shared_ptr<const ErrorColumns>(lines, &lines->errors), out);
        }
        return 0;
    } catch (const std::bad_alloc&) {
        state.last_error = "out of memory while exporting a decoded table";
        return ENOMEM;
    }
}

const char* get_last_error(ArrowArrayStream* stream) noexcept {
    const std::string& error = of(stream).last_error;
    return error.empty() ? nullptr : error.c_str();
}

void release(ArrowArrayStream* stream) noexcept {
    {
        const InterpreterLock lock;
        Py_DecRef(of(stream).batches);
        Py_DecRef(of(stream).batch_type);
    }
    delete &of(stream);
    stream->release = nullptr;
}

void destroy_capsule(PyObject* capsule) noexcept {
    auto* stream =
        static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
    if (stream == nullptr) {
        PyErr_Clear();
        return;
    }
    if (stream->release != nullptr) stream->release(stream);
    delete stream;
}

}  // namespace

PyObject* batch_stream(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "batch_stream() takes 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    Table table = Table::Beacons;
    if (PyUnicode_Check(args[1]) != 0 &&
        PyUnicode_CompareWithASCIIString(args[1], "errors") == 0) {
        table = Table::Errors;
    } else if (PyUnicode_Check(args[1]) == 0 ||
               PyUnicode_CompareWithASCIIString(args[1], "beacons") != 0) {
        PyErr_Format(PyExc_ValueError, "batch_stream() table must be 'beacons' or 'errors', not %R",
                     args[1]);
        return nullptr;
    }
    Owned batches(PyObject_GetIter(args[0]));
    if (!batches) return nullptr;
    try {
        auto stream = std::make_unique<ArrowArrayStream>();
        auto state = std::make_unique<IteratorStream>();
        state->table = table;
        PyObject* capsule = PyCapsule_New(stream.get(), "arrow_array_stream", &destroy_capsule);
        if (capsule == nullptr) return nullptr;
        state->batches = batches.release();
        state->batch_type = state_of(module).arrow_batch_type;
        Py_IncRef(state->batch_type);
        *stream = ArrowArrayStream{&get_schema, &get_next, &get_last_error, &release,
                                   state.release()};
        stream.release();
        return capsule;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

}  // namespace kav::batch

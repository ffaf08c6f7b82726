// The ArrowBatch type. Each capsule owns one heap-allocated Arrow struct; the
// struct's own references keep the decoded table alive, so a consumer may
// keep what it took long after this object is gone.
#include "arrow_batch.hpp"

#include <new>
#include <string>
#include <utility>

#include "arrow_export.hpp"

namespace kav::batch {
namespace {

// ---------------------------------------------------------------------------
// The object.

struct ArrowBatchObject {
    PyObject_HEAD std::shared_ptr<const DecodedLines> lines;
    Table table;
};

ArrowBatchObject& batch_of(PyObject* self) noexcept {
    return *reinterpret_cast<ArrowBatchObject*>(self);
}

// Calls `use` with the table this batch exports, as a shared pointer to its
// column set, so that one body serves both tables.
template <class Use>
decltype(auto) with_table(PyObject* self, Use&& use) {
    const ArrowBatchObject& batch = batch_of(self);
    if (batch.table == Table::Beacons) {
        return use(std::shared_ptr<const BeaconColumns>(batch.lines, &batch.lines->beacons));
    }
    return use(std::shared_ptr<const ErrorColumns>(batch.lines, &batch.lines->errors));
}

std::size_t rows_of(PyObject* self) noexcept {
    return with_table(self, [](const auto& columns) { return columns->rows(); });
}

// ---------------------------------------------------------------------------
// Capsules.

template <class Struct>
constexpr const char* kCapsuleName = nullptr;
template <>
constexpr const char* kCapsuleName<ArrowSchema> = "arrow_schema";
template <>
constexpr const char* kCapsuleName<ArrowArray> = "arrow_array";
template <>
constexpr const char* kCapsuleName<ArrowArrayStream> = "arrow_array_stream";

// A consumer that moved the struct out left its `release` null; otherwise
// what it describes is still ours to release.
template <class Struct>
void destroy_capsule(PyObject* capsule) noexcept {
    auto* part = static_cast<Struct*>(PyCapsule_GetPointer(capsule, kCapsuleName<Struct>));
    if (part == nullptr) {
        PyErr_Clear();  // not ours; a destructor cannot report it
        return;
    }
    if (part->release != nullptr) part->release(part);
    delete part;
}

// A capsule over a struct that `fill` exports into; null with an exception set
// on failure.
template <class Struct, class Fill>
PyObject* new_capsule(Fill&& fill) noexcept {
    try {
        auto part = std::make_unique<Struct>();
        fill(part.get());
        PyObject* capsule =
            PyCapsule_New(part.get(), kCapsuleName<Struct>, &destroy_capsule<Struct>);
        if (capsule == nullptr) {
            part->release(part.get());
            return nullptr;
        }
        part.release();
        return capsule;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* schema_capsule(PyObject* self) noexcept {
    return with_table(self, []<class Columns>(const std::shared_ptr<const Columns>&) {
        return new_capsule<ArrowSchema>([](ArrowSchema* out) { export_schema<Columns>(out); });
    });
}

struct ReleaseSchema {
    void operator()(ArrowSchema* schema) const noexcept { schema->release(schema); }
};

// The data can only be exported as it is: a requested schema other than None
// or our own is refused, as the interface asks, naming what was asked.
bool accept_requested_schema(PyObject* self, PyObject* requested) noexcept {
    if (requested == Py_None) return true;
    if (!PyCapsule_IsValid(requested, kCapsuleName<ArrowSchema>)) {
        PyErr_Format(PyExc_NotImplementedError,
                     "requested_schema must be None or an \"arrow_schema\" capsule, not %R",
                     requested);
        return false;
    }
    const auto* asked =
        static_cast<const ArrowSchema*>(PyCapsule_GetPointer(requested, kCapsuleName<ArrowSchema>));
    try {
        ArrowSchema ours =
            with_table(self, []<class Columns>(const std::shared_ptr<const Columns>&) {
                ArrowSchema schema;
                export_schema<Columns>(&schema);
                return schema;
            });
        const std::unique_ptr<ArrowSchema, ReleaseSchema> release_ours(&ours);
        if (asked->release == nullptr) {
            PyErr_SetString(PyExc_NotImplementedError, "the requested schema was already released");
            return false;
        }
        if (same_schema(*asked, ours)) return true;
        const std::string text = "cannot export as the requested schema " +
                                 describe_schema(*asked) + "; the table's schema is " +
                                 describe_schema(ours);
        PyErr_SetString(PyExc_NotImplementedError, text.c_str());
        return false;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

// ---------------------------------------------------------------------------
// Methods.

constexpr const char* kRequestedSchemaKeywords[] = {"requested_schema", nullptr};

// The optional requested_schema argument, None when not given.
bool parse_requested_schema(PyObject* args, PyObject* kwargs, const char* format,
                            PyObject*& requested) noexcept {
    requested = Py_None;
    return PyArg_ParseTupleAndKeywords(
               args, kwargs, format, const_cast<char**>(kRequestedSchemaKeywords), &requested) != 0;
}

PyObject* arrow_c_schema(PyObject* self, PyObject* /*unused*/) noexcept {
    return schema_capsule(self);
}

PyObject* arrow_c_array(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* requested = nullptr;
    if (!parse_requested_schema(args, kwargs, "|O:__arrow_c_array__", requested)) return nullptr;
    if (!accept_requested_schema(self, requested)) return nullptr;
    Owned schema(schema_capsule(self));
    if (!schema) return nullptr;
    Owned array(with_table(self, []<class Columns>(const std::shared_ptr<const Columns>& columns) {
        return new_capsule<ArrowArray>([&](ArrowArray* out) { export_batch(columns, out); });
    }));
    if (!array) return nullptr;
    return PyTuple_Pack(2, schema.get(), array.get());
}

PyObject* arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    PyObject* requested = nullptr;
    if (!parse_requested_schema(args, kwargs, "|O:__arrow_c_stream__", requested)) return nullptr;
    if (!accept_requested_schema(self, requested)) return nullptr;
    return with_table(self, []<class Columns>(const std::shared_ptr<const Columns>& columns) {
        return new_capsule<ArrowArrayStream>(
            [&](ArrowArrayStream* out) { export_stream(columns, out); });
    });
}

PyObject* num_rows(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromSize_t(rows_of(self));
}

Py_ssize_t length(PyObject* self) noexcept {
    return static_cast<Py_ssize_t>(rows_of(self));
}

void dealloc(PyObject* self) noexcept {
    batch_of(self).lines.~shared_ptr();
    free_instance(self);
}

// ---------------------------------------------------------------------------
// The type.

PyMethodDef methods[] = {
    {"__arrow_c_schema__", reinterpret_cast<PyCFunction>(&arrow_c_schema), METH_NOARGS,
     PyDoc_STR("__arrow_c_schema__($self, /)\n--\n\nThe table's schema, as an \"arrow_schema\" "
               "capsule.")},
    {"__arrow_c_array__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_c_array)),
     METH_VARARGS | METH_KEYWORDS,
     PyDoc_STR("__arrow_c_array__($self, /, requested_schema=None)\n--\n\nThe table as one record "
               "batch: a pair of \"arrow_schema\" and \"arrow_array\" capsules.")},
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&arrow_c_stream)),
     METH_VARARGS | METH_KEYWORDS,
     PyDoc_STR("__arrow_c_stream__($self, /, requested_schema=None)\n--\n\nThe table as an "
               "\"arrow_array_stream\" capsule yielding one record batch.")},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"num_rows", &num_rows, nullptr, PyDoc_STR("The number of rows."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(PyDoc_STR("One decoded table, exported to Arrow consumers "
                                            "through the PyCapsule interface."))},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_getset, getset},
    {Py_mp_length, reinterpret_cast<void*>(&length)},
    {0, nullptr},
};

}  // namespace

PyObject* new_arrow_batch_type(PyObject* module) noexcept {
    return new_type<ArrowBatchObject>(module, "kav_aprs._native.ArrowBatch", slots);
}

Owned new_arrow_batch(PyTypeObject* type, std::shared_ptr<const DecodedLines> lines, Table table) {
    Owned self = allocate_instance(type);
    if (!self) return self;
    ArrowBatchObject& batch = batch_of(self.get());
    new (&batch.lines) std::shared_ptr<const DecodedLines>(std::move(lines));
    batch.table = table;
    return self;
}

}  // namespace kav::batch

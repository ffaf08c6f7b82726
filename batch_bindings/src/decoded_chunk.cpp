// The DecodedChunk type: read-only counts, the failures per kind, and the
// beacon and error tables.
#include "decoded_chunk.hpp"

#include <cstddef>
#include <new>
#include <string_view>

#include "beacon_errors.hpp"

namespace kav::batch {
namespace {

// ---------------------------------------------------------------------------
// The object.

struct DecodedChunkObject {
    PyObject_HEAD LineCounts counts;
    PyObject* beacons;  // owned ArrowBatch objects; neither refers back
    PyObject* errors;
};

DecodedChunkObject& chunk_of(PyObject* self) noexcept {
    return *reinterpret_cast<DecodedChunkObject*>(self);
}

// ---------------------------------------------------------------------------
// Attributes.

template <std::uint64_t LineCounts::*kCount>
PyObject* count(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromUnsignedLongLong(chunk_of(self).counts.*kCount);
}

template <PyObject* DecodedChunkObject::*kTable>
PyObject* table(PyObject* self, void* /*unused*/) noexcept {
    PyObject* object = chunk_of(self).*kTable;
    Py_IncRef(object);
    return object;
}

// A new dict each time, so that a caller changing it changes nothing here.
PyObject* failures(PyObject* self, void* /*unused*/) noexcept {
    Owned dict(PyDict_New());
    if (!dict) return nullptr;
    const LineCounts& counts = chunk_of(self).counts;
    for (std::size_t kind = 0; kind < counts.failures.size(); ++kind) {
        if (counts.failures[kind] == 0) continue;
        const std::string_view name = error_kind_name(static_cast<std::uint8_t>(kind));
        Owned value(PyLong_FromUnsignedLongLong(counts.failures[kind]));
        if (!value) return nullptr;
        Owned key(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        if (!key || PyDict_SetItem(dict.get(), key.get(), value.get()) != 0) return nullptr;
    }
    return dict.release();
}

void dealloc(PyObject* self) noexcept {
    Py_DecRef(chunk_of(self).beacons);
    Py_DecRef(chunk_of(self).errors);
    free_instance(self);
}

// ---------------------------------------------------------------------------
// The type.

PyGetSetDef getset[] = {
    {"lines", &count<&LineCounts::lines>, nullptr,
     PyDoc_STR("Every line of the input: decoded + failed + comments + blank."), nullptr},
    {"decoded", &count<&LineCounts::decoded>, nullptr, PyDoc_STR("Lines decoded into beacons."),
     nullptr},
    {"failed", &count<&LineCounts::failed>, nullptr, PyDoc_STR("Lines that failed to decode."),
     nullptr},
    {"comments", &count<&LineCounts::comments>, nullptr, PyDoc_STR("Lines starting with '#'."),
     nullptr},
    {"blank", &count<&LineCounts::blank>, nullptr, PyDoc_STR("Empty lines."), nullptr},
    {"failures", &failures, nullptr,
     PyDoc_STR("Failed lines per error kind, for the kinds that occurred, in kind order."),
     nullptr},
    {"beacons", &table<&DecodedChunkObject::beacons>, nullptr,
     PyDoc_STR("One row per decoded line, in input order."), nullptr},
    {"errors", &table<&DecodedChunkObject::errors>, nullptr,
     PyDoc_STR("One row per failed line, in input order."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(PyDoc_STR("The lines of one buffer, decoded."))},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

}  // namespace

PyObject* new_decoded_chunk_type(PyObject* module) noexcept {
    return new_type<DecodedChunkObject>(module, "kav_aprs._native.DecodedChunk", slots);
}

Owned new_decoded_chunk(PyTypeObject* type, const LineCounts& counts, Owned beacons, Owned errors) {
    Owned self = allocate_instance(type);
    if (!self) return self;
    DecodedChunkObject& chunk = chunk_of(self.get());
    new (&chunk.counts) LineCounts(counts);
    chunk.beacons = beacons.release();
    chunk.errors = errors.release();
    return self;
}

}  // namespace kav::batch

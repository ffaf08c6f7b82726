// The Decoded type: read-only counts, the failures per kind, the beacon and
// error tables, and the provenance of the lines.
#include "decoded.hpp"

#include <cstddef>
#include <iterator>
#include <new>
#include <string_view>
#include <utility>

#include "arrow_batch.hpp"
#include "beacon_errors.hpp"

namespace kav::batch {
namespace {

// ---------------------------------------------------------------------------
// The object.

struct DecodedObject {
    PyObject_HEAD LineCounts counts;
    std::uint64_t first_line_number;
    // Owned references, none of which refers back: the provenance is what the
    // package's own readers give (names, numbers, times).
    PyObject* beacons;
    PyObject* errors;
    PyObject* source;
    PyObject* received_from;
    PyObject* received_to;
};

DecodedObject& decoded_of(PyObject* self) noexcept {
    return *reinterpret_cast<DecodedObject*>(self);
}

PyObject* owned_or_none(PyObject* object) noexcept {
    PyObject* value = object != nullptr ? object : Py_None;
    Py_IncRef(value);
    return value;
}

// ---------------------------------------------------------------------------
// Attributes.

template <std::uint64_t LineCounts::*kCount>
PyObject* count(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromUnsignedLongLong(decoded_of(self).counts.*kCount);
}

template <PyObject* DecodedObject::*kMember>
PyObject* member(PyObject* self, void* /*unused*/) noexcept {
    return owned_or_none(decoded_of(self).*kMember);
}

PyObject* first_line_number(PyObject* self, void* /*unused*/) noexcept {
    return PyLong_FromUnsignedLongLong(decoded_of(self).first_line_number);
}

// A new dict each time, so that a caller changing it changes nothing here.
PyObject* failures(PyObject* self, void* /*unused*/) noexcept {
    Owned dict(PyDict_New());
    if (!dict) return nullptr;
    const LineCounts& counts = decoded_of(self).counts;
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

// Decoded(lines=3, decoded=1, failed=1, comments=1, blank=0,
// failures={'InvalidTimestamp': 1}, first_line_number=1, source='a.txt'): the
// counts first, then where the lines came from, as far as it is known.
PyObject* repr(PyObject* self) noexcept {
    const DecodedObject& decoded = decoded_of(self);
    const LineCounts& counts = decoded.counts;
    Owned failure_dict(failures(self, nullptr));
    if (!failure_dict) return nullptr;
    Owned text(PyUnicode_FromFormat(
        "Decoded(lines=%llu, decoded=%llu, failed=%llu, comments=%llu, blank=%llu, failures=%R, "
        "first_line_number=%llu",
        static_cast<unsigned long long>(counts.lines),
        static_cast<unsigned long long>(counts.decoded),
        static_cast<unsigned long long>(counts.failed),
        static_cast<unsigned long long>(counts.comments),
        static_cast<unsigned long long>(counts.blank), failure_dict.get(),
        static_cast<unsigned long long>(decoded.first_line_number)));
    if (!text) return nullptr;
    const std::pair<const char*, PyObject*> provenance[] = {
        {"source", decoded.source},
        {"received_from", decoded.received_from},
        {"received_to", decoded.received_to},
    };
    for (const auto& [name, value] : provenance) {
        if (value == nullptr) continue;
        Owned part(PyUnicode_FromFormat(", %s=%R", name, value));
        if (!part) return nullptr;
        text.reset(PyUnicode_Concat(text.get(), part.get()));
        if (!text) return nullptr;
    }
    Owned close(PyUnicode_FromString(")"));
    if (!close) return nullptr;
    return PyUnicode_Concat(text.get(), close.get());
}

void dealloc(PyObject* self) noexcept {
    DecodedObject& decoded = decoded_of(self);
    for (PyObject* object : {decoded.beacons, decoded.errors, decoded.source,
                             decoded.received_from, decoded.received_to}) {
        if (object != nullptr) Py_DecRef(object);
    }
    free_instance(self);
}

// ---------------------------------------------------------------------------
// The type.

PyGetSetDef getset[] = {
#define KAV_COUNT_ATTRIBUTE(name, description) \
    {#name, &count<&LineCounts::name>, nullptr, PyDoc_STR(description), nullptr},
    KAV_LINE_COUNTS(KAV_COUNT_ATTRIBUTE)
#undef KAV_COUNT_ATTRIBUTE
    {"failures", &failures, nullptr,
     PyDoc_STR("Failed lines per error kind, for the kinds that occurred, in kind order."),
     nullptr},
    {"beacons", &member<&DecodedObject::beacons>, nullptr,
     PyDoc_STR("One row per decoded line, in input order (an Arrow record batch)."), nullptr},
    {"errors", &member<&DecodedObject::errors>, nullptr,
     PyDoc_STR("One row per failed line, in input order (an Arrow record batch)."), nullptr},
    {"first_line_number", &first_line_number, nullptr,
     PyDoc_STR("The number of the first line; the lines are numbered on from it."), nullptr},
    {"source", &member<&DecodedObject::source>, nullptr,
     PyDoc_STR("The name of what the lines were read from, or None."), nullptr},
    {"received_from", &member<&DecodedObject::received_from>, nullptr,
     PyDoc_STR("For lines received live, the time of the first read that brought them; "
               "otherwise None."),
     nullptr},
    {"received_to", &member<&DecodedObject::received_to>, nullptr,
     PyDoc_STR("For lines received live, the time of the last read that brought them; "
               "otherwise None."),
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(PyDoc_STR(
                    "Lines decoded: the beacons, the lines that failed, and counts of every kind "
                    "of line.\n\nbeacons and errors export Arrow record batches through the "
                    "PyCapsule interface, so pyarrow.table(d.beacons), polars.DataFrame(d.beacons) "
                    "and DuckDB read them without a copy. lines == decoded + failed + comments + "
                    "blank."))},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

}  // namespace

PyObject* new_count_names() noexcept {
#define KAV_COUNT_NAME(name, description) #name,
    static constexpr const char* kNames[] = {KAV_LINE_COUNTS(KAV_COUNT_NAME)};
#undef KAV_COUNT_NAME
    Owned names(PyTuple_New(static_cast<Py_ssize_t>(std::size(kNames))));
    if (!names) return nullptr;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        PyObject* name = PyUnicode_FromString(kNames[i]);
        if (name == nullptr || PyTuple_SetItem(names.get(), static_cast<Py_ssize_t>(i), name) != 0) {
            return nullptr;
        }
    }
    return names.release();
}

PyObject* new_decoded_type(PyObject* module) noexcept {
    // Named by where users find it: kav_aprs.Decoded.
    return new_type<DecodedObject>(module, "kav_aprs.Decoded", slots);
}

Owned new_decoded(PyTypeObject* type, PyTypeObject* batch_type, DecodedLines&& lines,
                  const Provenance& provenance) {
    const LineCounts counts = lines.counts;
    const auto shared = std::make_shared<const DecodedLines>(std::move(lines));
    Owned beacons = new_arrow_batch(batch_type, shared, Table::Beacons);
    if (!beacons) return nullptr;
    Owned errors = new_arrow_batch(batch_type, shared, Table::Errors);
    if (!errors) return nullptr;
    Owned self = allocate_instance(type);
    if (!self) return self;
    DecodedObject& decoded = decoded_of(self.get());
    new (&decoded.counts) LineCounts(counts);
    decoded.first_line_number = provenance.first_line_number;
    decoded.beacons = beacons.release();
    decoded.errors = errors.release();
    for (auto [given, kept] : {std::pair{provenance.source, &decoded.source},
                               std::pair{provenance.received_from, &decoded.received_from},
                               std::pair{provenance.received_to, &decoded.received_to}}) {
        if (given != nullptr && given != Py_None) {
            Py_IncRef(given);
            *kept = given;
        }
    }
    return self;
}

}  // namespace kav::batch

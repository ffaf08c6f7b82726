// parse_kav_aprs_aircraft_beacon: one beacon line, given as bytes or any
// sequence of byte values, into an AircraftBeacon, or a ValueError carrying
// the parse error's text.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "arg_matching.hpp"
#include "beacon_errors.hpp"
#include "classes.hpp"
#include "first_use.hpp"
#include "instance.hpp"
#include "parse.hpp"

namespace kav::py {

namespace {

constexpr const char* kDoc =
    "parse_kav_aprs_aircraft_beacon(input)\n--\n\n"
    "Parses a raw KAV APRS aircraft beacon message.\n\n"
    "This is the primary entry point for decoding an KAV beacon. It extracts\n"
    "the header information, positional block, and trailing extension tags from\n"
    "the raw byte stream.\n\n"
    "# Arguments\n\n"
    "* `input` (`bytes`): A bytes-like object containing the raw APRS message.\n\n"
    "# Returns\n\n"
    "`AircraftBeacon`: The successfully parsed beacon object.\n\n"
    "# Raises\n\n"
    "* `ValueError`: If the parsing fails. This typically occurs if:\n"
    "  * The overall message format is invalid.\n"
    "  * A specific token (time, coordinates, etc.) fails to parse.\n"
    "  * The required KAV Beacon ID is missing from the message.";

constexpr std::array<std::string_view, 1> kParameters{"input"};
constexpr Signature kSignature{"", kParseFunctionName, kParameters};

// A sequence's length only sizes the first allocation. Beacon lines are short,
// and a __len__ that reports an absurd size must not make the call reserve it.
constexpr Py_ssize_t kMostBytesReservedAhead = 1 << 16;

PyResult<std::string> collect_byte_values(PyObject* sequence) {
    std::string bytes;
    const Py_ssize_t length = PyObject_Size(sequence);
    if (length < 0) {
        PyErr_Clear();  // no hint, but the items may still be iterable
    } else {
        bytes.reserve(static_cast<std::size_t>(std::min(length, kMostBytesReservedAhead)));
    }
    Ref iterator = Ref::steal(PyObject_GetIter(sequence));
    if (!iterator) return fail_fetched();
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        const long value = PyLong_AsLong(item.get());
        if (value == -1 && PyErr_Occurred() != nullptr) return fail_fetched();
        if (value < 0 || value > 255) {
            return fail(PyExc_OverflowError, "out of range integral type conversion attempted");
        }
        bytes.push_back(static_cast<char>(value));
    }
    if (PyErr_Occurred() != nullptr) return fail_fetched();
    return bytes;
}

// The bytes of an input that is not a bytes object, copied: a bytearray's
// contents, or the values of a sequence of integers.
PyResult<std::string> copied_line_bytes(PyObject* input) {
    if (PyByteArray_Check(input)) {
        return std::string(PyByteArray_AsString(input),
                           static_cast<std::size_t>(PyByteArray_Size(input)));
    }
    // A str is a sequence too, but of characters: refuse it rather than guess
    // an encoding.
    if (PyUnicode_Check(input)) return fail(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (PySequence_Check(input)) return collect_byte_values(input);
    // Anything else is refused naming collections.abc.Sequence, imported the
    // first time such an input arrives.
    static OnceCache<PyObject*> sequence_class;
    KAV_PY_TRY_ASSIGN(PyObject * sequence,
                      imported_attribute(sequence_class, "collections.abc", "Sequence"));
    return fail(type_mismatch(input, sequence));
}

// The ValueError of a line that does not parse, its str made straight from
// the rendered message. The message is rendered into one buffer kept for the
// life of the process, so that a bad line allocates its str and nothing else.
// The interpreter lock, held from here to the str, keeps the buffer to one
// user; it is a lock every interpreter that imports this module shares.
PendingError parse_failure(const kav::BeaconParseError& error) {
    static std::string message;
    message.clear();
    kav::append_error_message(message, error);
    return PendingError::new_error(PyExc_ValueError, new_str(message));
}

// A new AircraftBeacon for a line that parses, else the ValueError.
PyResult<Ref> beacon_from_line(std::string_view line) {
    const auto parsed = kav::parse_aircraft_beacon_view(line);
    if (!parsed) return fail(parse_failure(parsed.error()));
    // The record is built in the new object, its texts copied there straight
    // from the line.
    KAV_PY_TRY_ASSIGN(PyTypeObject * type, AircraftBeaconClass::type());
    return new_instance<AircraftBeaconClass>(type,
                                             [&parsed] { return kav::to_record(parsed.value()); });
}

// The parse runs with the interpreter lock held: it calls no Python code and
// takes microseconds, so releasing the lock would cost more than it gives.
PyObject* parse_entry(PyObject* /*unused_self*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    return guard_object([&]() -> PyResult<Ref> {
        Arguments<1> arguments{};
        KAV_PY_TRY(match_arguments(kSignature, args, nargs, kwnames, arguments));
        PyObject* input = arguments[0];
        // A bytes object, the input of nearly every call, is parsed in place;
        // its buffer stays alive and unchanged for the call.
        if (PyBytes_Check(input)) {
            char* data = nullptr;
            Py_ssize_t size = 0;
            if (PyBytes_AsStringAndSize(input, &data, &size) < 0) return fail_fetched();
            return beacon_from_line(std::string_view(data, static_cast<std::size_t>(size)));
        }
        KAV_PY_TRY_ASSIGN(std::string copied, named(kParameters[0], copied_line_bytes(input)));
        return beacon_from_line(copied);
    });
}

// Exactly these flags: the interpreter's specialised call of a built-in
// function checks for them, and any other set (METH_STATIC among them) sends
// every call through its slower generic path.
PyMethodDef parse_method = {
    kParseFunctionName,
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&parse_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    kDoc,
};

}  // namespace

PyResult<Ref> new_parse_function(PyObject* module) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return fail_fetched();
    // No self: the function does not hold the module, and its __self__ is None.
    return returned(PyCMethod_New(&parse_method, nullptr, module_name.get(), nullptr));
}

}  // namespace kav::py

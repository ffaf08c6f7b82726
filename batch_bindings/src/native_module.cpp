// The module kav_aprs._native (multi-phase initialisation): decode() and the
// two types it returns, the record writers and the WriteTurn they pass on,
// the reservation of disk space for the files they write, how freed memory is
// kept, the types kept in the module's state.
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "arrow_batch.hpp"
#include "decode_lines.hpp"
#include "decoded_chunk.hpp"
#include "line_splitter.hpp"
#include "python_glue.hpp"
#include "record_text_functions.hpp"
#include "write_turn.hpp"

namespace kav::batch {
namespace {

// ---------------------------------------------------------------------------
// Module state.

struct ModuleState {
    PyObject* arrow_batch_type;
    PyObject* decoded_chunk_type;
    PyObject* write_turn_type;
};

ModuleState& state_of(PyObject* module) noexcept {
    return *static_cast<ModuleState*>(PyModule_GetState(module));
}

// ---------------------------------------------------------------------------
// decode().

// The bytes to decode, readable without the interpreter lock, in place: a
// bytes object never changes and the reference keeps it alive; a bytearray is
// held through a memoryview of it, an export that makes any attempt to resize
// it meanwhile fail with BufferError, as it does while a file writes from it.
// Not copying a bytearray lets a reader refill one buffer for every read
// instead of mapping and zeroing fresh memory for each.
struct Input {
    Owned holder;
    std::string_view view;
};

bool take_input(PyObject* data, Input& input) {
    if (PyBytes_Check(data)) {
        input.holder = new_reference(data);
        char* start = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(data, &start, &size) != 0) return false;
        input.view = std::string_view(start, static_cast<std::size_t>(size));
        return true;
    }
    if (PyByteArray_Check(data)) {
        input.holder = Owned(PyMemoryView_FromObject(data));
        if (!input.holder) return false;
        input.view = std::string_view(PyByteArray_AsString(data),
                                      static_cast<std::size_t>(PyByteArray_Size(data)));
        return true;
    }
    Owned type_name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(data)), "__name__"));
    if (!type_name) return false;
    PyErr_Format(PyExc_TypeError, "decode() argument 1 must be bytes or bytearray, not %U",
                 type_name.get());
    return false;
}

using Decoded = Result<DecodedLines, DecodeLimitError>;

// Decodes with the interpreter lock released, so that threads decoding other
// buffers run meanwhile. Empty when memory ran out.
std::optional<Decoded> decode_unlocked(std::string_view data, std::uint64_t first_line_number,
                                       std::string_view carried) {
    std::optional<Decoded> decoded;
    PyThreadState* thread = PyEval_SaveThread();
    try {
        decoded.emplace(decode_lines(data, first_line_number, carried));
    } catch (const std::bad_alloc&) {
        decoded.reset();
    }
    PyEval_RestoreThread(thread);
    return decoded;
}

Owned chunk_from(PyObject* module, DecodedLines&& lines) {
    const ModuleState& state = state_of(module);
    auto* batch_type = reinterpret_cast<PyTypeObject*>(state.arrow_batch_type);
    const LineCounts counts = lines.counts;
    const auto shared = std::make_shared<const DecodedLines>(std::move(lines));
    Owned beacons = new_arrow_batch(batch_type, shared, Table::Beacons);
    if (!beacons) return nullptr;
    Owned errors = new_arrow_batch(batch_type, shared, Table::Errors);
    if (!errors) return nullptr;
    return new_decoded_chunk(reinterpret_cast<PyTypeObject*>(state.decoded_chunk_type), counts,
                             std::move(beacons), std::move(errors));
}

// decode(data, first_line_number[, end[, carried]]): the lines of carried +
// data[:end] (all of data when end is None), so that a stream's read is
// decoded in place: neither the start of a line after its last line end nor
// the line begun in the previous read costs a copy of the whole read.
PyObject* decode(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs < 2 || nargs > 4) {
        PyErr_Format(PyExc_TypeError, "decode() takes 2 to 4 arguments (%zd given)", nargs);
        return nullptr;
    }
    const unsigned long long first_line_number = PyLong_AsUnsignedLongLong(args[1]);
    if (first_line_number == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        return nullptr;
    }
    try {
        Input input;
        if (!take_input(args[0], input)) return nullptr;
        if (nargs >= 3 && args[2] != Py_None) {
            const Py_ssize_t end = PyLong_AsSsize_t(args[2]);
            if (end == -1 && PyErr_Occurred() != nullptr) return nullptr;
            if (end < 0 || static_cast<std::size_t>(end) > input.view.size()) {
                PyErr_Format(PyExc_ValueError, "decode() end %zd is outside the %zu bytes given",
                             end, input.view.size());
                return nullptr;
            }
            input.view = input.view.substr(0, static_cast<std::size_t>(end));
        }
        Input carried;
        if (nargs == 4 && !take_input(args[3], carried)) return nullptr;
        std::optional<Decoded> decoded =
            decode_unlocked(input.view, first_line_number, carried.view);
        if (!decoded) return PyErr_NoMemory();
        if (!*decoded) {
            PyErr_SetString(PyExc_OverflowError, decoded->error().message.c_str());
            return nullptr;
        }
        return chunk_from(module, std::move(*decoded).value()).release();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// count_line_ends(data, end, /): the line ends in data[:end] (bytes), so that
// the lines of a stream's chunks can be numbered before the chunks before them
// are decoded.
PyObject* count_line_ends(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "count_line_ends() takes 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    const bool immutable = PyBytes_Check(args[0]) != 0;
    if (!immutable && PyByteArray_Check(args[0]) == 0) {
        PyErr_Format(PyExc_TypeError,
                     "count_line_ends() argument 1 must be bytes or bytearray, not %R",
                     reinterpret_cast<PyObject*>(Py_TYPE(args[0])));
        return nullptr;
    }
    const char* start = immutable ? PyBytes_AsString(args[0]) : PyByteArray_AsString(args[0]);
    const Py_ssize_t size = immutable ? PyBytes_Size(args[0]) : PyByteArray_Size(args[0]);
    const Py_ssize_t end = PyLong_AsSsize_t(args[1]);
    if (end == -1 && PyErr_Occurred() != nullptr) return nullptr;
    if (end < 0 || end > size) {
        PyErr_Format(PyExc_ValueError, "count_line_ends() end %zd is outside the %zd bytes given",
                     end, size);
        return nullptr;
    }
    const std::string_view data(start, static_cast<std::size_t>(end));
    if (!immutable)
        return PyLong_FromSize_t(kav::count_line_ends(data));  // another thread may resize it
    // A bytes object never changes, and the caller holds it: no lock needed.
    PyThreadState* thread = PyEval_SaveThread();
    const std::size_t ends = kav::count_line_ends(data);
    PyEval_RestoreThread(thread);
    return PyLong_FromSize_t(ends);
}

// ---------------------------------------------------------------------------
// reserve_space().

// reserve_space(fd, offset, length, /): reserves disk space for the bytes
// [offset, offset + length) of a regular file without changing its size; True
// when reserved. Records written into reserved space skip the file system's
// allocation page by page; the caller truncates the file to its size once it
// is complete, which frees what was reserved beyond its end. Only a hint: a
// file system, a device or a pipe that cannot reserve, or a full disk, gives
// False, and the writes then find out for themselves; any other failure
// raises OSError.
PyObject* reserve_space(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 3) {
        PyErr_Format(PyExc_TypeError, "reserve_space() takes 3 arguments (%zd given)", nargs);
        return nullptr;
    }
    const int fd = PyObject_AsFileDescriptor(args[0]);
    if (fd < 0) return nullptr;
    const long long offset = PyLong_AsLongLong(args[1]);
    if (offset == -1 && PyErr_Occurred() != nullptr) return nullptr;
    const long long length = PyLong_AsLongLong(args[2]);
    if (length == -1 && PyErr_Occurred() != nullptr) return nullptr;
    if (offset < 0 || length <= 0) {
        PyErr_Format(PyExc_ValueError,
                     "reserve_space() needs offset >= 0 and length > 0, not %lld and %lld", offset,
                     length);
        return nullptr;
    }
    PyThreadState* thread = PyEval_SaveThread();
    int status = 0;
    do {
        status = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                             static_cast<off_t>(length));
    } while (status != 0 && errno == EINTR);
    const int error = status == 0 ? 0 : errno;
    PyEval_RestoreThread(thread);
    if (error == 0) return PyBool_FromLong(1);
    for (const int cannot_reserve_here :
         {EOPNOTSUPP, ENOSYS, ENODEV, ESPIPE, ENOSPC, EFBIG, EINVAL}) {
        if (error == cannot_reserve_here) return PyBool_FromLong(0);
    }
    // A closed descriptor, one not open for writing, a failing disk.
    errno = error;
    return PyErr_SetFromErrno(PyExc_OSError);
}

// ---------------------------------------------------------------------------
// retain_freed_memory().

// What the command's process keeps of the memory it frees, so that each batch
// reuses the pages of the one before instead of faulting in fresh ones: a
// read of a few MiB is otherwise mapped anew or handed back at once (the heap's
// top is trimmed as soon as two freed batches lie there), and every page of
// the next is then cleared by the kernel again.
constexpr int kRetainedAllocationBytes = 32 << 20;  // allocations below this come from the heap
constexpr int kRetainedTopBytes = 128 << 20;        // free heap top kept before trimming

// retain_freed_memory(): True when the C library took the settings (glibc);
// False where there is nothing to set.
PyObject* retain_freed_memory(PyObject* /*module*/, PyObject* /*unused*/) noexcept {
#if defined(__GLIBC__)
    const bool taken = ::mallopt(M_MMAP_THRESHOLD, kRetainedAllocationBytes) == 1 &&
                       ::mallopt(M_TRIM_THRESHOLD, kRetainedTopBytes) == 1;
    return PyBool_FromLong(taken ? 1 : 0);
#else
    return PyBool_FromLong(0);
#endif
}

// ---------------------------------------------------------------------------
// page_aligned_buffer().

// A buffer for reads from files whose first byte starts a memory page. On some
// processors (AMD's among them) the kernel's copy into user memory runs at a
// fifth of its speed when the destination lies 1 to 31 bytes past the
// source's place in a page. A large bytearray's bytes start 16 bytes into a
// page (the C allocator's header), and a file read from its start begins at a
// page: every such read was the slow case. Page to page, the offsets match.
constexpr Py_ssize_t kPageBytes = 4096;

// page_aligned_buffer(size, /): a zeroed bytearray of at least `size` bytes
// whose first byte starts a page. Deleting the front of a bytearray moves its
// start without moving its bytes, which is what aligns it; were that ever to
// move them, the buffer would only be unaligned, never wrong. Two pages to
// spare, so that what is left is over half of what was allocated, which a
// bytearray keeps in place instead of shrinking it into a smaller block.
PyObject* page_aligned_buffer(PyObject* /*module*/, PyObject* arg) noexcept {
    const Py_ssize_t size = PyLong_AsSsize_t(arg);
    if (size == -1 && PyErr_Occurred() != nullptr) return nullptr;
    if (size < 0) {
        PyErr_Format(PyExc_ValueError, "page_aligned_buffer() size must not be negative, got %zd",
                     size);
        return nullptr;
    }
    if (size > PY_SSIZE_T_MAX - 2 * kPageBytes) return PyErr_NoMemory();
    const Py_ssize_t allocated = size + 2 * kPageBytes;
    Owned buffer(PyByteArray_FromStringAndSize(nullptr, allocated));
    if (!buffer) return nullptr;
    char* bytes = PyByteArray_AsString(buffer.get());
    std::memset(bytes, 0, static_cast<std::size_t>(allocated));
    const auto address = reinterpret_cast<std::uintptr_t>(bytes);
    const auto skip = static_cast<Py_ssize_t>((kPageBytes - address % kPageBytes) % kPageBytes);
    if (skip != 0 && PySequence_DelSlice(buffer.get(), 0, skip) != 0) return nullptr;
    return buffer.release();
}

// ---------------------------------------------------------------------------
// Text records of a decoded table.

RecordTypes record_types_of(PyObject* module) noexcept {
    const ModuleState& state = state_of(module);
    return {reinterpret_cast<PyTypeObject*>(state.arrow_batch_type),
            reinterpret_cast<PyTypeObject*>(state.write_turn_type)};
}

PyObject* write_json_lines_of(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return write_json_lines(record_types_of(module), args, nargs);
}

PyObject* write_csv_lines_of(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
    return write_csv_lines(record_types_of(module), args, nargs);
}

// ---------------------------------------------------------------------------
// The module.

PyMethodDef methods[] = {
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&decode)), METH_FASTCALL,
     PyDoc_STR("decode(data, first_line_number, end=None, carried=b'', /)\n--\n\nDecodes every "
               "line of `carried + data[:end]` (bytes or bytearray), numbering them from "
               "`first_line_number`.")},
    {"count_line_ends",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&count_line_ends)), METH_FASTCALL,
     PyDoc_STR("count_line_ends(data, end, /)\n--\n\nThe line ends in `data[:end]` (bytes): "
               "\"\\n\", \"\\r\\n\" (one) and a lone \"\\r\".")},
    {"reserve_space", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&reserve_space)),
     METH_FASTCALL,
     PyDoc_STR("reserve_space(fd, offset, length, /)\n--\n\nReserves disk space for bytes "
               "[offset, offset + length) of a regular file without changing its size; True when "
               "reserved, False when the file, its file system or a full disk does not allow it.")},
    {"page_aligned_buffer", &page_aligned_buffer, METH_O,
     PyDoc_STR("page_aligned_buffer(size, /)\n--\n\nA zeroed bytearray of at least `size` bytes "
               "whose first byte starts a memory page, for reads from files: the kernel copies "
               "into it page to page, which some processors do five times faster than into a "
               "buffer whose bytes start a few bytes into a page.")},
    {"retain_freed_memory", &retain_freed_memory, METH_NOARGS,
     PyDoc_STR("retain_freed_memory()\n--\n\nMakes the C library keep freed memory for reuse "
               "(allocations under 32 MiB from the heap, up to 128 MiB of it free before any is "
               "returned): for a process that decodes batch after batch. True when it took the "
               "settings.")},
    {"write_json_lines",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&write_json_lines_of)),
     METH_FASTCALL,
     PyDoc_STR("write_json_lines(batch, source, fd, after=None, done=None, /)\n--\n\nWrites the "
               "rows of an ArrowBatch to a file descriptor as JSON lines in UTF-8, each object "
               "starting with the given source; given WriteTurns, once `after` has passed, "
               "passing `done` on.")},
    {"write_csv_lines",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&write_csv_lines_of)),
     METH_FASTCALL,
     PyDoc_STR("write_csv_lines(batch, source, header, fd, after=None, done=None, /)\n--\n\n"
               "Writes the rows of an ArrowBatch to a file descriptor as CSV lines in UTF-8, after "
               "the header line when `header` is true; given WriteTurns, once `after` has passed, "
               "passing `done` on.")},
    {nullptr, nullptr, 0, nullptr},
};

int module_exec(PyObject* module) noexcept {
    ModuleState& state = state_of(module);
    state.arrow_batch_type = new_arrow_batch_type(module);
    if (state.arrow_batch_type == nullptr) return -1;
    state.decoded_chunk_type = new_decoded_chunk_type(module);
    if (state.decoded_chunk_type == nullptr) return -1;
    state.write_turn_type = new_write_turn_type(module);
    if (state.write_turn_type == nullptr) return -1;
    if (PyModule_AddObjectRef(module, "ArrowBatch", state.arrow_batch_type) != 0) return -1;
    if (PyModule_AddObjectRef(module, "DecodedChunk", state.decoded_chunk_type) != 0) return -1;
    return PyModule_AddObjectRef(module, "WriteTurn", state.write_turn_type);
}

int module_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
    const ModuleState& state = state_of(module);
    for (PyObject* type :
         {state.arrow_batch_type, state.decoded_chunk_type, state.write_turn_type}) {
        if (type != nullptr) {
            if (const int status = visit(type, arg); status != 0) return status;
        }
    }
    return 0;
}

int module_clear(PyObject* module) noexcept {
    ModuleState& state = state_of(module);
    for (PyObject** type :
         {&state.arrow_batch_type, &state.decoded_chunk_type, &state.write_turn_type}) {
        if (*type != nullptr) Py_DecRef(std::exchange(*type, nullptr));
    }
    return 0;
}

void module_free(void* module) noexcept {
    module_clear(static_cast<PyObject*>(module));
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_native",
    PyDoc_STR("The batch decoder of kav_aprs: whole buffers of beacon lines into Arrow tables."),
    sizeof(ModuleState),
    methods,
    module_slots,
    &module_traverse,
    &module_clear,
    &module_free,
};

}  // namespace
}  // namespace kav::batch

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__native() {
    return PyModuleDef_Init(&kav::batch::module_def);
}

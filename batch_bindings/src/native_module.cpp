// The module kav_aprs._native (multi-phase initialisation): decode() and the
// Decoded it returns, the framer that cuts streams into whole lines, the
// Arrow stream over a reader's batches, the record writers and the WriteTurn
// they pass on, the reservation of disk space for the files they write, how
// freed memory is kept and the read buffers, the types kept in the module's state.
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

#include "arguments.hpp"
#include "arrow_batch.hpp"
#include "batch_stream.hpp"
#include "decoded.hpp"
#include "decoding.hpp"
#include "framing.hpp"
#include "input_bytes.hpp"
#include "line_splitter.hpp"
#include "module_state.hpp"
#include "python_glue.hpp"
#include "record_text_functions.hpp"
#include "write_turn.hpp"

namespace kav::batch {
namespace {

// ---------------------------------------------------------------------------
// decode().

constexpr const char* kDecodeNames[] = {"data", "first_line_number", "source"};

// decode(data, first_line_number=1, *, source=None): every line of `data`.
PyObject* decode(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) noexcept {
    PyObject* values[std::size(kDecodeNames)];
    if (!parse_arguments({"decode", kDecodeNames, 2, 1}, args, nargs, kwnames, values)) {
        return nullptr;
    }
    Provenance provenance;
    if (!take_provenance(values[1], values[2], nullptr, nullptr, provenance)) return nullptr;
    InputBytes input;
    if (!take_input_bytes(values[0], "decode", input)) return nullptr;
    const LineRun run{{}, 0, input.view};
    return decode_runs(state_of(module), std::span<const LineRun>(&run, 1), LineFramer::kNoLimit,
                       provenance);
}

// ---------------------------------------------------------------------------
// line_start().

// line_start(window, searched, /): where the line after the first line end in
// window[:searched] starts, or None; window may hold one byte more than is
// searched, which tells "\r\n" from a lone "\r" at the searched end.
PyObject* line_start(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "line_start() takes 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    InputBytes window;
    if (!take_input_bytes(args[0], "line_start", window)) return nullptr;
    const Py_ssize_t searched = PyLong_AsSsize_t(args[1]);
    if (searched == -1 && PyErr_Occurred() != nullptr) return nullptr;
    if (searched < 0 || static_cast<std::size_t>(searched) > window.view.size()) {
        PyErr_Format(PyExc_ValueError, "line_start() searched %zd is outside the %zu bytes given",
                     searched, window.view.size());
        return nullptr;
    }
    const std::size_t start = past_first_line_end(window.view, static_cast<std::size_t>(searched));
    if (start > window.view.size()) {
        Py_IncRef(Py_None);
        return Py_None;
    }
    return PyLong_FromSize_t(start);
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
// read_buffer().

// A buffer for reads from files whose first byte starts a memory page. On some
// processors (AMD's among them) the kernel's copy into user memory runs at a
// fifth of its speed when the destination lies 1 to 31 bytes past the
// source's place in a page. A large bytearray's bytes start 16 bytes into a
// page (the C allocator's header), and a file read from its start begins at a
// page: every such read was the slow case. Page to page, the offsets match.
constexpr Py_ssize_t kPageBytes = 4096;

// read_buffer(size, /): a bytearray of at least `size` bytes whose first byte
// starts a page. Its bytes are left as the allocator gave them, not cleared:
// a reader only ever looks at what it read into them, and clearing megabytes
// for each small file cost more than decoding it. Deleting the front of a
// bytearray moves its start without moving its bytes, which is what aligns
// it; were that ever to move them, the buffer would only be unaligned, never
// wrong. Two pages to spare, so that what is left is over half of what was
// allocated, which a bytearray keeps in place instead of shrinking it into a
// smaller block.
PyObject* read_buffer(PyObject* /*module*/, PyObject* arg) noexcept {
    const Py_ssize_t size = PyLong_AsSsize_t(arg);
    if (size == -1 && PyErr_Occurred() != nullptr) return nullptr;
    if (size < 0) {
        PyErr_Format(PyExc_ValueError, "read_buffer() size must not be negative, got %zd", size);
        return nullptr;
    }
    if (size > PY_SSIZE_T_MAX - 2 * kPageBytes) return PyErr_NoMemory();
    const Py_ssize_t allocated = size + 2 * kPageBytes;
    Owned buffer(PyByteArray_FromStringAndSize(nullptr, allocated));
    if (!buffer) return nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(PyByteArray_AsString(buffer.get()));
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
    {"decode", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&decode)),
     METH_FASTCALL | METH_KEYWORDS,
     PyDoc_STR("decode(data, first_line_number=1, *, source=None)\n--\n\nDecodes every line of "
               "`data` into a Decoded, numbering them from `first_line_number`.")},
    {"line_start", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&line_start)),
     METH_FASTCALL,
     PyDoc_STR("line_start(window, searched, /)\n--\n\nWhere the line after the first line end "
               "in window[:searched] starts, or None; a byte past `searched` tells \"\\r\\n\" "
               "from a lone \"\\r\".")},
    {"batch_stream", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&batch_stream)),
     METH_FASTCALL,
     PyDoc_STR("batch_stream(batches, table, /)\n--\n\nAn \"arrow_array_stream\" capsule over "
               "the `table` (\"beacons\" or \"errors\") of each Decoded an iterator yields.")},
    {"reserve_space", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&reserve_space)),
     METH_FASTCALL,
     PyDoc_STR("reserve_space(fd, offset, length, /)\n--\n\nReserves disk space for bytes "
               "[offset, offset + length) of a regular file without changing its size; True when "
               "reserved, False when the file, its file system or a full disk does not allow it.")},
    {"read_buffer", &read_buffer, METH_O,
     PyDoc_STR("read_buffer(size, /)\n--\n\nA bytearray of at least `size` bytes, not cleared, "
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

// The module's types, each with the name it is added under (null for one
// that only the module's functions hand out).
struct TypeEntry {
    PyObject* ModuleState::*slot;
    PyObject* (*create)(PyObject*) noexcept;
    const char* name;
};

constexpr TypeEntry kTypes[] = {
    {&ModuleState::arrow_batch_type, &new_arrow_batch_type, "ArrowBatch"},
    {&ModuleState::decoded_type, &new_decoded_type, "Decoded"},
    {&ModuleState::frame_type, &new_frame_type, "Frame"},
    {&ModuleState::line_framer_type, &new_line_framer_type, "LineFramer"},
    {&ModuleState::write_turn_type, &new_write_turn_type, "WriteTurn"},
};

int module_exec(PyObject* module) noexcept {
    ModuleState& state = state_of(module);
    for (const TypeEntry& entry : kTypes) {
        PyObject* type = entry.create(module);
        if (type == nullptr) return -1;
        state.*entry.slot = type;
        if (PyModule_AddObjectRef(module, entry.name, type) != 0) return -1;
    }
    Owned count_names(new_count_names());
    if (!count_names) return -1;
    return PyModule_AddObjectRef(module, "COUNT_NAMES", count_names.get());
}

int module_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
    const ModuleState& state = state_of(module);
    for (const TypeEntry& entry : kTypes) {
        if (PyObject* type = state.*entry.slot; type != nullptr) {
            if (const int status = visit(type, arg); status != 0) return status;
        }
    }
    return 0;
}

int module_clear(PyObject* module) noexcept {
    ModuleState& state = state_of(module);
    for (const TypeEntry& entry : kTypes) {
        if (state.*entry.slot != nullptr) Py_DecRef(std::exchange(state.*entry.slot, nullptr));
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

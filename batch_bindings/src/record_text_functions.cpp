// The batch's columns are immutable and shared, so they are read without the
// interpreter lock; other threads decode meanwhile. The text passes through
// one buffer per thread that keeps its memory from call to call: a fresh
// buffer for every batch would cost a page fault every few rows.
#include "record_text_functions.hpp"

#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "arrow_batch.hpp"
#include "record_text.hpp"

namespace kav::batch {
namespace {

enum class Syntax { JsonLines, Csv };

// Writes all of `text` to `fd`; 0, or the errno of the write that failed.
int write_all(int fd, std::string_view text) noexcept {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// Writes the rows of `columns` in `syntax` to `fd`; 0 or the errno of a
// failed write.
template <class Columns>
int write_records(const Columns& columns, Syntax syntax, std::string_view source, bool header,
                  int fd) {
    // A buffer of its own per call, not a thread_local one: a thread-local
    // object with a destructor needs glibc 2.18, and the wheel promises 2.17.
    // Rows are spilled once it holds kRecordSpillBytes, so it seldom grows.
    std::string buffer;
    buffer.reserve(2 * kRecordSpillBytes);
    int error = 0;
    const RecordSpill spill = [&](std::string& full) {
        error = write_all(fd, full);
        full.clear();
        return error == 0;
    };
    bool written = false;
    if (syntax == Syntax::JsonLines) {
        written = append_json_lines(buffer, columns, source, spill);
    } else {
        if (header) append_csv_header<Columns>(buffer);
        written = append_csv_rows(buffer, columns, source, spill);
    }
    if (written) error = write_all(fd, buffer);
    return error;
}

PyObject* write_records(PyTypeObject* batch_type, PyObject* const* args, Py_ssize_t nargs,
                        Syntax syntax) noexcept {
    const bool csv = syntax == Syntax::Csv;
    const char* name = csv ? "write_csv_lines" : "write_json_lines";
    const Py_ssize_t wanted = csv ? 4 : 3;
    if (nargs != wanted) {
        PyErr_Format(PyExc_TypeError, "%s() takes exactly %zd arguments (%zd given)", name, wanted,
                     nargs);
        return nullptr;
    }
    Table table = Table::Beacons;
    const std::shared_ptr<const DecodedLines> lines = lines_of_batch(args[0], batch_type, table);
    if (!lines) {
        PyErr_Format(PyExc_TypeError, "%s() argument 1 must be an ArrowBatch, not %R", name,
                     reinterpret_cast<PyObject*>(Py_TYPE(args[0])));
        return nullptr;
    }
    if (PyUnicode_Check(args[1]) == 0) {
        PyErr_Format(PyExc_TypeError, "%s() argument 2 must be str, not %R", name,
                     reinterpret_cast<PyObject*>(Py_TYPE(args[1])));
        return nullptr;
    }
    Py_ssize_t source_size = 0;
    const char* source_text = PyUnicode_AsUTF8AndSize(args[1], &source_size);
    if (source_text == nullptr) return nullptr;
    bool header = false;
    if (csv) {
        const int truth = PyObject_IsTrue(args[2]);
        if (truth < 0) return nullptr;
        header = truth != 0;
    }
    const int fd = PyObject_AsFileDescriptor(args[wanted - 1]);
    if (fd < 0) return nullptr;

    // The source text belongs to the str, which the caller holds until we return.
    const std::string_view source(source_text, static_cast<std::size_t>(source_size));
    int error = 0;
    bool out_of_memory = false;
    PyThreadState* thread = PyEval_SaveThread();
    try {
        error = table == Table::Beacons
                    ? write_records(lines->beacons, syntax, source, header, fd)
                    : write_records(lines->errors, syntax, source, header, fd);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    PyEval_RestoreThread(thread);
    if (out_of_memory) return PyErr_NoMemory();
    if (error != 0) {
        errno = error;
        return PyErr_SetFromErrno(PyExc_OSError);
    }
    Py_IncRef(Py_None);
    return Py_None;
}

}  // namespace

PyObject* write_json_lines(PyTypeObject* batch_type, PyObject* const* args,
                           Py_ssize_t nargs) noexcept {
    return write_records(batch_type, args, nargs, Syntax::JsonLines);
}

PyObject* write_csv_lines(PyTypeObject* batch_type, PyObject* const* args,
                          Py_ssize_t nargs) noexcept {
    return write_records(batch_type, args, nargs, Syntax::Csv);
}

}  // namespace kav::batch

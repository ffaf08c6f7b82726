// The batch's columns are immutable and shared, so they are read without the
// interpreter lock; other threads decode, and write their own batches in turn,
// meanwhile.
#include "record_text_functions.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arrow_batch.hpp"
#include "record_text.hpp"
#include "write_turn.hpp"

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

// How far a batch's text may run ahead of its turn: the rows rendered while
// the batch before is written wait in memory, and are written from there once
// the turn passes. Room for a whole batch of the command's threads (about
// 3.5 MiB of JSON lines a MiB of input) means a turn is held only while its
// text is written, not while it is rendered, so that the writes of one file,
// serial in the kernel, overlap the other threads' rendering; beyond it a
// thread waits for its turn.
constexpr std::size_t kAheadOfTurnBytes = 16 << 20;

// Buffers kept from call to call, so that their memory is not new to the
// process each time (a page fault every 4 KiB). A pool, not a thread_local
// buffer: a thread-local object with a destructor needs glibc 2.18, and the
// wheel promises 2.17.
class BufferPool {
  public:
    std::string take() {
        const std::lock_guard lock(mutex_);
        if (spare_.empty()) return {};
        std::string buffer = std::move(spare_.back());
        spare_.pop_back();
        return buffer;
    }
    void give(std::string&& buffer) noexcept {
        buffer.clear();
        try {
            const std::lock_guard lock(mutex_);
            spare_.push_back(std::move(buffer));
        } catch (...) {  // no room to keep it: it is freed
        }
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> spare_;
};

BufferPool buffer_pool;

// Writes the rows of `columns` in `syntax` to `fd` once the turn `after` has
// passed (at once when null); 0 or the errno of a failed write. `skipped`
// tells that `after` was withdrawn and nothing was written.
template <class Columns>
int write_records(const Columns& columns, Syntax syntax, std::string_view source, bool header,
                  int fd, WriteTurn* after, bool& skipped) {
    // Rows are spilled once the buffer holds kRecordSpillBytes, so that the
    // text is still in the cache when written; only while the batch before is
    // being written do they gather, up to kAheadOfTurnBytes.
    std::string buffer = buffer_pool.take();
    buffer.reserve(2 * kRecordSpillBytes);
    int error = 0;
    bool turn = after == nullptr;
    const RecordSpill spill = [&](std::string& full) {
        if (!turn) {
            WriteTurn::Outcome outcome = after->peek();
            if (outcome == WriteTurn::Outcome::Pending) {
                if (full.size() < kAheadOfTurnBytes) return true;  // keep them
                outcome = after->wait();
            }
            skipped = outcome == WriteTurn::Outcome::Withdrawn;
            if (skipped) return false;
            turn = true;
        }
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
    if (written && !turn) skipped = after->wait() == WriteTurn::Outcome::Withdrawn;
    if (written && !skipped) error = write_all(fd, buffer);
    buffer_pool.give(std::move(buffer));
    return error;
}

PyObject* write_records(const RecordTypes& types, PyObject* const* args, Py_ssize_t nargs,
                        Syntax syntax) noexcept {
    const bool csv = syntax == Syntax::Csv;
    const char* name = csv ? "write_csv_lines" : "write_json_lines";
    const Py_ssize_t fixed = csv ? 4 : 3;  // the arguments before the two turns
    if (nargs != fixed && nargs != fixed + 2) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zd or %zd arguments (%zd given)", name, fixed,
                     fixed + 2, nargs);
        return nullptr;
    }
    Table table = Table::Beacons;
    const std::shared_ptr<const DecodedLines> lines =
        lines_of_batch(args[0], types.arrow_batch, table);
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
    const int fd = PyObject_AsFileDescriptor(args[fixed - 1]);
    if (fd < 0) return nullptr;
    std::array<WriteTurn*, 2> turns{};  // after, done
    for (std::size_t i = 0; nargs > fixed && i < turns.size(); ++i) {
        PyObject* given = args[fixed + static_cast<Py_ssize_t>(i)];
        if (given == Py_None) continue;
        turns[i] = write_turn_of(given, types.write_turn);
        if (turns[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() argument %zd must be a WriteTurn or None, not %R",
                         name, fixed + static_cast<Py_ssize_t>(i) + 1,
                         reinterpret_cast<PyObject*>(Py_TYPE(given)));
            return nullptr;
        }
    }
    const auto [after, done] = turns;

    // The source text belongs to the str, which the caller holds until we return.
    const std::string_view source(source_text, static_cast<std::size_t>(source_size));
    int error = 0;
    bool skipped = false;
    bool out_of_memory = false;
    PyThreadState* thread = PyEval_SaveThread();
    try {
        error = table == Table::Beacons
                    ? write_records(lines->beacons, syntax, source, header, fd, after, skipped)
                    : write_records(lines->errors, syntax, source, header, fd, after, skipped);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    const bool passed = error == 0 && !skipped && !out_of_memory;
    if (done != nullptr) {
        done->settle(passed ? WriteTurn::Outcome::Passed : WriteTurn::Outcome::Withdrawn);
    }
    PyEval_RestoreThread(thread);
    if (out_of_memory) return PyErr_NoMemory();
    if (error != 0) {
        errno = error;
        return PyErr_SetFromErrno(PyExc_OSError);
    }
    if (skipped) {
        PyErr_Format(PyExc_RuntimeError, "%s(): not written, as a batch before it was not", name);
        return nullptr;
    }
    Py_IncRef(Py_None);
    return Py_None;
}

}  // namespace

PyObject* write_json_lines(const RecordTypes& types, PyObject* const* args,
                           Py_ssize_t nargs) noexcept {
    return write_records(types, args, nargs, Syntax::JsonLines);
}

PyObject* write_csv_lines(const RecordTypes& types, PyObject* const* args,
                          Py_ssize_t nargs) noexcept {
    return write_records(types, args, nargs, Syntax::Csv);
}

}  // namespace kav::batch

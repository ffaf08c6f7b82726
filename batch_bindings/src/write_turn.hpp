// WriteTurn: the order in which threads write the batches of one output. Each
// batch is written after the turn of the batch before it has passed, and
// passes its own on once it is written; a batch that could not be written
// withdraws its turn, and every batch after it is then left unwritten.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "python_glue.hpp"

namespace kav::batch {

class WriteTurn {
  public:
    enum class Outcome { Pending, Passed, Withdrawn };

    // What became of the turn so far, without waiting.
    Outcome peek() const noexcept { return outcome_.load(std::memory_order_acquire); }
    // What became of the turn, once something has; the caller holds no interpreter lock.
    Outcome wait() noexcept;
    // Passes or withdraws the turn; only the first call counts.
    void settle(Outcome outcome) noexcept;

  private:
    std::atomic<Outcome> outcome_{Outcome::Pending};
    std::mutex mutex_;
    std::condition_variable settled_;
};

PyObject* new_write_turn_type(PyObject* module) noexcept;

// The turn `object` holds; null when it is not a WriteTurn of `type`.
WriteTurn* write_turn_of(PyObject* object, PyTypeObject* type) noexcept;

}  // namespace kav::batch

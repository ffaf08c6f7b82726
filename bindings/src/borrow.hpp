// The borrow counter of every instance, and RAII guards for its two kinds of
// borrow.
//
// The interpreter lock serialises all entries, but Python code can run in the
// middle of one (an argument's __index__ or __float__, a warning filter) and
// re-enter the same instance. The counter makes such a re-entry fail cleanly
// instead of letting a writer change fields that a reader is still using:
// 0 is free, n > 0 is n readers, -1 is one writer.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "pending_error.hpp"

namespace kav::py {

class BorrowFlag {
  public:
    bool try_share() noexcept {
        std::int32_t current = count_.load(std::memory_order_relaxed);
        do {
            if (current == kExclusive) return false;
        } while (!count_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
        return true;
    }
    void release_share() noexcept { count_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() noexcept {
        std::int32_t expected = 0;
        return count_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { count_.store(0, std::memory_order_release); }

  private:
    static constexpr std::int32_t kExclusive = -1;
    std::atomic<std::int32_t> count_{0};
};

// The errors a refused borrow raises.
inline PendingError already_mutably_borrowed() {
    return PendingError::new_error(PyExc_RuntimeError, "Already mutably borrowed");
}
inline PendingError already_borrowed() {
    return PendingError::new_error(PyExc_RuntimeError, "Already borrowed");
}

// A held shared borrow (reader), released when the guard goes away.
class SharedBorrow {
  public:
    // Empty when the flag is held exclusively.
    static SharedBorrow try_take(BorrowFlag& flag) noexcept {
        return SharedBorrow(flag.try_share() ? &flag : nullptr);
    }
    static PyResult<SharedBorrow> take(BorrowFlag& flag) {
        SharedBorrow borrow = try_take(flag);
        if (!borrow) return fail(already_mutably_borrowed());
        return borrow;
    }
    SharedBorrow(SharedBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (flag_ != nullptr) flag_->release_share();
    }
    explicit operator bool() const noexcept { return flag_ != nullptr; }

  private:
    explicit SharedBorrow(BorrowFlag* flag) noexcept : flag_(flag) {}
    BorrowFlag* flag_;
};

// A held exclusive borrow (writer). Take it only after every conversion that
// may run Python code, so that no Python code runs while it is held.
class ExclusiveBorrow {
  public:
    static PyResult<ExclusiveBorrow> take(BorrowFlag& flag) {
        if (!flag.try_exclusive()) return fail(already_borrowed());
        return ExclusiveBorrow(&flag);
    }
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept
        : flag_(std::exchange(other.flag_, nullptr)) {}
    ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
    ~ExclusiveBorrow() {
        if (flag_ != nullptr) flag_->release_exclusive();
    }

  private:
    explicit ExclusiveBorrow(BorrowFlag* flag) noexcept : flag_(flag) {}
    BorrowFlag* flag_;
};

}  // namespace kav::py

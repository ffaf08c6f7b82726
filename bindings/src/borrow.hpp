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

// A held borrow, released when the guard goes away: shared (a reader) or
// exclusive (a writer). Take an exclusive borrow only after every conversion
// that may run Python code, so that no Python code runs while it is held.
template <bool Exclusive>
class Borrow {
  public:
    // Empty when the flag refuses it.
    static Borrow try_take(BorrowFlag& flag) noexcept {
        const bool taken = Exclusive ? flag.try_exclusive() : flag.try_share();
        return Borrow(taken ? &flag : nullptr);
    }
    static PyResult<Borrow> take(BorrowFlag& flag) {
        Borrow borrow = try_take(flag);
        if (!borrow) {
            return fail(PyExc_RuntimeError,
                        Exclusive ? "Already borrowed" : "Already mutably borrowed");
        }
        return borrow;
    }
    Borrow(Borrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (flag_ == nullptr) return;
        if constexpr (Exclusive) {
            flag_->release_exclusive();
        } else {
            flag_->release_share();
        }
    }
    explicit operator bool() const noexcept { return flag_ != nullptr; }

  private:
    explicit Borrow(BorrowFlag* flag) noexcept : flag_(flag) {}
    BorrowFlag* flag_;
};

using SharedBorrow = Borrow<false>;
using ExclusiveBorrow = Borrow<true>;

}  // namespace kav::py

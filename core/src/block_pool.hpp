// Large column buffers, kept for reuse after their table is freed.
//
// Decoding a stream chunk by chunk builds tables of about the same size again
// and again. Taken from the C allocator, every new table's columns come from
// pages the kernel has to map and zero afresh (the page faults cost more than
// the decoding itself), and the allocator keeps much of what is freed without
// reusing it. A block of this pool is mapped from the system once, handed from
// one table to the next with its pages still resident, and unmapped when the
// pool already keeps enough: memory stays bounded by what is in use plus the
// pool's limit.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <new>

namespace kav {

class BlockPool {
  public:
    // Blocks below this size come from the C allocator, which serves them well.
    static constexpr std::size_t kSmallestBlock = std::size_t{256} << 10;

    explicit BlockPool(std::size_t max_kept_bytes) noexcept : max_kept_bytes_(max_kept_bytes) {}
    ~BlockPool();
    BlockPool(const BlockPool&) = delete;
    BlockPool& operator=(const BlockPool&) = delete;

    // A block of at least `bytes` (at least kSmallestBlock): a kept one when one
    // fits without wasting more than a quarter of it, else a new mapping.
    // Throws std::bad_alloc when the system has no memory left.
    void* take(std::size_t bytes);
    // Returns a block that take(bytes) gave, from any thread. It is kept for
    // reuse while the pool's limit allows (the oldest kept ones make room),
    // unless it is over a quarter of the limit; else unmapped.
    void give_back(void* block, std::size_t bytes) noexcept;

    std::size_t kept_bytes() const noexcept;
    std::size_t kept_blocks() const noexcept;

  private:
    struct Block {
        void* address = nullptr;
        std::size_t bytes = 0;
    };
    static constexpr std::size_t kMaxKeptBlocks = 128;

    void drop_oldest() noexcept;  // with mutex_ held

    mutable std::mutex mutex_;
    std::array<Block, kMaxKeptBlocks> kept_{};  // the oldest first
    std::size_t n_kept_ = 0;
    std::size_t kept_bytes_ = 0;
    const std::size_t max_kept_bytes_;
};

// The pool of the decoded tables' columns. Never destroyed, so that a table
// freed during the process's exit still has somewhere to go.
BlockPool& column_block_pool() noexcept;

// Under AddressSanitizer the columns keep to the C allocator, whose every
// buffer it guards: a mapped block has no redzones.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kColumnsUsePool = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kColumnsUsePool = false;
#else
inline constexpr bool kColumnsUsePool = true;
#endif
#else
inline constexpr bool kColumnsUsePool = true;
#endif

// A standard allocator drawing large buffers from column_block_pool().
template <class T>
struct PooledAllocator {
    using value_type = T;

    PooledAllocator() noexcept = default;
    template <class U>
    PooledAllocator(const PooledAllocator<U>& /*other*/) noexcept {}

    T* allocate(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        if (!kColumnsUsePool || bytes < BlockPool::kSmallestBlock) {
            return std::allocator<T>().allocate(n);
        }
        return static_cast<T*>(column_block_pool().take(bytes));
    }
    void deallocate(T* p, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (!kColumnsUsePool || bytes < BlockPool::kSmallestBlock) {
            std::allocator<T>().deallocate(p, n);
        } else {
            column_block_pool().give_back(p, bytes);
        }
    }

    template <class U>
    bool operator==(const PooledAllocator<U>& /*other*/) const noexcept {
        return true;
    }
};

}  // namespace kav

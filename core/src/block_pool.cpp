#include "block_pool.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <bit>

namespace kav {
namespace {

std::size_t page_size() noexcept {
    static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// What a block of `bytes` spans: whole pages, in steps of an eighth of the
// power of two at or below it. Tables of nearly the same size thus ask for
// blocks of the same sizes: the last range of a file, a little shorter than
// the others, would otherwise leave blocks that none of the full ranges after
// it can take. The pages past `bytes` are never touched, so cost no memory.
std::size_t mapped_bytes(std::size_t bytes) noexcept {
    const std::size_t step = std::max(page_size(), std::bit_floor(bytes) / 8);
    return (bytes + step - 1) / step * step;
}

}  // namespace

BlockPool::~BlockPool() {
    for (std::size_t i = 0; i < n_kept_; ++i) munmap(kept_[i].address, kept_[i].bytes);
}

void* BlockPool::take(std::size_t bytes) {
    const std::size_t wanted = mapped_bytes(bytes);
    Block found;
    {
        const std::lock_guard lock(mutex_);
        std::size_t best = n_kept_;
        for (std::size_t i = 0; i < n_kept_; ++i) {
            const std::size_t size = kept_[i].bytes;
            if (size >= wanted && size - wanted <= size / 4 &&
                (best == n_kept_ || size < kept_[best].bytes)) {
                best = i;
            }
        }
        if (best != n_kept_) {
            found = kept_[best];
            kept_bytes_ -= found.bytes;
            for (std::size_t i = best + 1; i < n_kept_; ++i) kept_[i - 1] = kept_[i];
            kept_[--n_kept_] = Block{};
        }
    }
    if (found.address != nullptr) {
        // The block comes back by the size asked for now: its spare pages go.
        if (found.bytes > wanted) {
            munmap(static_cast<char*>(found.address) + wanted, found.bytes - wanted);
        }
        return found.address;
    }
    void* address =
        mmap(nullptr, wanted, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED) throw std::bad_alloc();
    return address;
}

void BlockPool::give_back(void* block, std::size_t bytes) noexcept {
    const std::size_t size = mapped_bytes(bytes);
    {
        const std::lock_guard lock(mutex_);
        // A block over a quarter of the limit is not kept: a table's rare
        // huge one (the error texts of a large buffer of failures alone, grown
        // past the buffer's size) would push out the many that the next table
        // wants.
        if (size <= max_kept_bytes_ / 4) {
            while (n_kept_ > 0 &&
                   (n_kept_ == kMaxKeptBlocks || kept_bytes_ + size > max_kept_bytes_)) {
                drop_oldest();
            }
            kept_[n_kept_++] = Block{block, size};
            kept_bytes_ += size;
            return;
        }
    }
    munmap(block, size);
}

void BlockPool::drop_oldest() noexcept {
    munmap(kept_[0].address, kept_[0].bytes);
    kept_bytes_ -= kept_[0].bytes;
    for (std::size_t i = 1; i < n_kept_; ++i) kept_[i - 1] = kept_[i];
    kept_[--n_kept_] = Block{};
}

std::size_t BlockPool::kept_bytes() const noexcept {
    const std::lock_guard lock(mutex_);
    return kept_bytes_;
}

std::size_t BlockPool::kept_blocks() const noexcept {
    const std::lock_guard lock(mutex_);
    return n_kept_;
}

BlockPool& column_block_pool() noexcept {
    // Enough for the tables of three or four 64 MiB buffers (about 100 MiB of
    // blocks each, half of it touched), which a Dask worker may free two at a
    // time while it decodes the next ranges, and for many chunks of a stream;
    // reached only by blocks freed and not yet taken again.
    static constexpr std::size_t kMaxKeptBytes = std::size_t{384} << 20;
    static BlockPool* const pool = new BlockPool(kMaxKeptBytes);
    return *pool;
}

}  // namespace kav

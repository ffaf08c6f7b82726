// The column block pool hands a freed block to the next table of about the
// same size, from whichever thread freed it, and keeps no more than its limit.
#include "block_pool.hpp"
#include "case_names.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "decode_lines.hpp"

namespace kav {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

struct ReuseCase {
    const char* name;
    std::size_t freed;
    std::size_t asked;
    bool reused;
    std::size_t kept;  // after both blocks are given back
};

void PrintTo(const ReuseCase& c, std::ostream* out) {
    *out << c.name;
}

class BlockReuse : public testing::TestWithParam<ReuseCase> {};

TEST_P(BlockReuse, TakesAFreedBlockOnlyWhenItFitsWithLittleWaste) {
    const ReuseCase& c = GetParam();
    BlockPool pool(64 * kMiB);
    void* freed = pool.take(c.freed);
    std::memset(freed, 0xA5, c.freed);  // every byte asked for is usable
    pool.give_back(freed, c.freed);
    void* taken = pool.take(c.asked);
    std::memset(taken, 0x5A, c.asked);
    EXPECT_EQ(taken == freed, c.reused);
    EXPECT_EQ(pool.kept_blocks(), c.reused ? 0u : 1u);
    pool.give_back(taken, c.asked);
    // Each block comes back by the size it was taken with, trimmed or not.
    EXPECT_EQ(pool.kept_bytes(), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockReuse,
    testing::Values(ReuseCase{"same_size", 2 * kMiB, 2 * kMiB, true, 2 * kMiB},
                    ReuseCase{"a_little_smaller", 2 * kMiB, 2 * kMiB - 4096, true, 2 * kMiB},
                    ReuseCase{"a_quarter_smaller", 4 * kMiB, 3 * kMiB, true, 3 * kMiB},
                    ReuseCase{"less_than_three_quarters", 4 * kMiB, 2 * kMiB, false, 6 * kMiB},
                    // Blocks go by eighths of an octave: 2 MiB and a page takes 2.25 MiB.
                    ReuseCase{"larger", 2 * kMiB, 2 * kMiB + 4096, false, 4 * kMiB + kMiB / 4},
                    // The columns of a file's last range, a little shorter, serve a full range after it.
                    ReuseCase{"larger_within_the_same_eighth", 8 * kMiB - kMiB / 8, 8 * kMiB, true,
                              8 * kMiB}),
    test::CaseName{});

TEST(BlockPool, KeepsNoMoreThanItsLimitDroppingTheOldestFirst) {
    BlockPool pool(4 * kMiB);
    std::vector<void*> blocks;
    for (int i = 0; i < 5; ++i) blocks.push_back(pool.take(kMiB));
    for (void* block : blocks) pool.give_back(block, kMiB);  // the fifth drops the first
    EXPECT_EQ(pool.kept_bytes(), 4 * kMiB);
    EXPECT_EQ(pool.kept_blocks(), 4u);
    EXPECT_EQ(pool.take(kMiB), blocks[1]);
}

struct KeptSizeCase {
    const char* name;
    std::size_t limit;
    std::size_t block;
    bool kept;
};

void PrintTo(const KeptSizeCase& c, std::ostream* out) {
    *out << c.name;
}

class KeptSize : public testing::TestWithParam<KeptSizeCase> {};

// A block too large to keep is unmapped and leaves the kept ones alone.
TEST_P(KeptSize, KeepsBlocksUpToAQuarterOfTheLimit) {
    const KeptSizeCase& c = GetParam();
    BlockPool pool(c.limit);
    void* small = pool.take(BlockPool::kSmallestBlock);
    pool.give_back(small, BlockPool::kSmallestBlock);
    void* block = pool.take(c.block);
    pool.give_back(block, c.block);
    EXPECT_EQ(pool.kept_blocks(), c.kept ? 2u : 1u);
    EXPECT_EQ(pool.kept_bytes(), BlockPool::kSmallestBlock + (c.kept ? c.block : 0));
    EXPECT_EQ(pool.take(BlockPool::kSmallestBlock), small);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, KeptSize,
    testing::Values(KeptSizeCase{"a_quarter", 16 * kMiB, 4 * kMiB, true},
                    KeptSizeCase{"a_page_over_a_quarter", 16 * kMiB, 4 * kMiB + 4096, false},
                    KeptSizeCase{"over_the_limit", 16 * kMiB, 32 * kMiB, false}),
    test::CaseName{});

TEST(BlockPool, KeepsAtMostItsCountOfBlocks) {
    BlockPool pool(1024 * kMiB);
    std::vector<void*> blocks;
    for (int i = 0; i < 300; ++i) blocks.push_back(pool.take(BlockPool::kSmallestBlock));
    for (void* block : blocks) pool.give_back(block, BlockPool::kSmallestBlock);
    EXPECT_LT(pool.kept_blocks(), blocks.size());
    EXPECT_EQ(pool.kept_bytes(), pool.kept_blocks() * BlockPool::kSmallestBlock);
}

TEST(BlockPool, ABlockFreedOnAnotherThreadIsReusedHere) {
    BlockPool pool(16 * kMiB);
    void* block = pool.take(kMiB);
    std::thread([&] { pool.give_back(block, kMiB); }).join();
    EXPECT_EQ(pool.take(kMiB), block);
}

// A large decoded table gives its columns back when freed, and the next one
// of the same size is built in them.
TEST(ColumnBlockPool, DecodedTablesReuseEachOthersColumns) {
    if (!kColumnsUsePool) GTEST_SKIP() << "the columns keep to the C allocator in this build";
    std::string data;
    const std::string line =
        "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF\n";
    while (data.size() < 8 * kMiB) data += line;
    BlockPool& pool = column_block_pool();
    {
        auto decoded = decode_lines(data, 1);
        ASSERT_TRUE(decoded.ok());
        ASSERT_EQ(decoded.value().counts.decoded, data.size() / line.size());
    }
    const std::size_t kept = pool.kept_bytes();
    EXPECT_GT(kept, 0u);
    {
        auto decoded = decode_lines(data, 1);
        ASSERT_TRUE(decoded.ok());
        EXPECT_LT(pool.kept_bytes(), kept);
    }
}

long minor_page_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// 64 MiB ranges (the Dask reader's default block), each decoded while the
// table before it is still alive, as a worker holds a range's frame while it
// decodes the next. Once the pool has settled, a range's failures are written
// into blocks it kept, not into pages faulted in afresh: room for every line
// to fail made their blocks too large for the pool to keep.
class RangesWithFailures : public testing::TestWithParam<std::size_t> {};

TEST_P(RangesWithFailures, KeepTheBlocksOfTheirTexts) {
    if (!kColumnsUsePool) GTEST_SKIP() << "the columns keep to the C allocator in this build";
    const std::size_t one_failure_in = GetParam();
    const std::string valid =
        "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF\n";
    const std::string bad =
        "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=00100x id06ABCDEF\n";
    std::string data;
    for (std::size_t line = 1; data.size() < 64 * kMiB; ++line) {
        data += line % one_failure_in == 0 ? bad : valid;
    }
    std::optional<DecodedLines> before;
    long faults = 0;
    for (int range = 0; range < 4; ++range) {
        const long start = minor_page_faults();
        auto decoded = decode_lines(data, 1);
        ASSERT_TRUE(decoded.ok());
        before = std::move(decoded).value();
        faults = minor_page_faults() - start;
    }
    const ErrorColumns& errors = before->errors;
    ASSERT_EQ(errors.rows(), before->counts.lines / one_failure_in);
    const std::size_t text_bytes = errors.error().bytes().size() + errors.line().bytes().size();
    const auto text_pages = static_cast<long>(text_bytes / 4096);
    EXPECT_LT(faults, text_pages / 2) << "pages of the failures' texts: " << text_pages;
}

INSTANTIATE_TEST_SUITE_P(OneFailureIn, RangesWithFailures, testing::Values(10, 100));

}  // namespace
}  // namespace kav

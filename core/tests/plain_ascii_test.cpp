// The plain run is found sixteen or eight bytes a step, with a last step that
// overlaps the one before. Whatever the length of the text and wherever the
// first byte that is not plain falls, the run must end exactly there, its
// bytes must be copied unchanged, and nothing may be read or written outside
// the text and its room (both are sized exactly, for the sanitizers).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "plain_ascii.hpp"

namespace kav {
namespace {

// The run as a byte-at-a-time loop finds it.
std::size_t reference_run(std::string_view text) {
    return static_cast<std::size_t>(std::find_if_not(text.begin(), text.end(), is_plain_ascii) -
                                    text.begin());
}

struct Copied {
    std::size_t run;
    std::string copy;  // the first `run` bytes written to the room
};

Copied copy_exactly(std::string_view text) {
    // Separate allocations of exactly the text's size: a read or a write one
    // byte too far is a heap overflow that the sanitized build reports.
    const auto source = std::make_unique<char[]>(text.size());
    const auto room = std::make_unique<char[]>(text.size());
    std::copy(text.begin(), text.end(), source.get());
    const std::size_t run = copy_plain_ascii(room.get(), std::string_view(source.get(), text.size()));
    return {run, std::string(room.get(), std::min(run, text.size()))};
}

class PlainAsciiTest : public testing::TestWithParam<std::size_t> {};

TEST_P(PlainAsciiTest, AllPlainIsCopiedWhole) {
    std::string text;
    for (std::size_t i = 0; i < GetParam(); ++i) text += static_cast<char>(' ' + i % 95);
    std::replace(text.begin(), text.end(), '"', '\'');
    std::replace(text.begin(), text.end(), '\\', '/');
    const Copied copied = copy_exactly(text);
    EXPECT_EQ(copied.run, text.size());
    EXPECT_EQ(copied.copy, text);
}

TEST_P(PlainAsciiTest, RunEndsAtEveryByteValueAtEveryOffset) {
    const std::size_t length = GetParam();
    for (std::size_t position = 0; position < length; ++position) {
        for (int value = 0; value < 256; ++value) {
            std::string text(length, 'k');
            text[position] = static_cast<char>(value);
            const Copied copied = copy_exactly(text);
            ASSERT_EQ(copied.run, reference_run(text)) << "byte " << value << " at " << position;
            ASSERT_EQ(copied.copy, text.substr(0, copied.run));
        }
    }
}

TEST_P(PlainAsciiTest, FirstOfTwoStopsTheRun) {
    // A second byte that needs care, in the last (overlapping) step, must not
    // hide or move the first.
    const std::size_t length = GetParam();
    for (std::size_t first = 0; first + 1 < length; ++first) {
        std::string text(length, 'k');
        text[first] = '"';
        text[length - 1] = '\n';
        EXPECT_EQ(copy_exactly(text).run, first) << first;
    }
}

// Each side of the 8- and 16-byte steps and of a second and third step.
INSTANTIATE_TEST_SUITE_P(Lengths, PlainAsciiTest,
                         testing::Values(0, 1, 7, 8, 9, 15, 16, 17, 23, 24, 31, 32, 33, 47, 48,
                                         49, 130));

}  // namespace
}  // namespace kav

// Validation skips ASCII eight bytes at a time. A sequence that is or is not
// valid must be judged the same wherever it falls relative to those words.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "case_names.hpp"
#include "utf8.hpp"

namespace kav {
namespace {

struct Sequence {
    std::string_view bytes;
    bool valid;
};

void PrintTo(const Sequence& c, std::ostream* out) {
    *out << test::quoted(c.bytes);
}

constexpr Sequence kSequences[] = {
    {"\xc3\xa9", true},  {"\xe2\x82\xac", true},  {"\xf0\x9f\x9b\xa9", true},
    {"\xff", false},     {"\x80", false},         {"\xc3", false},
    {"\xe2\x82", false}, {"\xed\xa0\x80", false},  // a surrogate
    {"\xc0\xaf", false},                           // an overlong form
};

class Utf8WordTest : public testing::TestWithParam<std::tuple<Sequence, int>> {};

TEST_P(Utf8WordTest, JudgedAlikeAtEveryOffset) {
    const auto& [sequence, position] = GetParam();
    const std::string text = std::string(static_cast<std::size_t>(position), 'a') +
                             std::string(sequence.bytes) +
                             std::string(static_cast<std::size_t>(17 - position), 'z');
    EXPECT_EQ(is_valid_utf8(text), sequence.valid);
}

INSTANTIATE_TEST_SUITE_P(AllOffsets, Utf8WordTest,
                         testing::Combine(testing::ValuesIn(kSequences), testing::Range(0, 18)),
    test::CaseName{});

}  // namespace
}  // namespace kav

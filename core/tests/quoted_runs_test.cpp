// Quoting copies runs of plain ASCII eight bytes at a time. Whatever the
// position of a byte that needs care within or across those words, and
// whatever its value, the text must come out exactly as one written
// character by character.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "aprs_types.hpp"

namespace kav {
namespace {

struct SpecialByte {
    std::string_view bytes;     // as it stands in the text
    std::string_view rendered;  // as it must appear between the quotes
};

// One byte on each side of every border of the plain range, the two
// metacharacters, and characters of several UTF-8 lengths.
constexpr SpecialByte kSpecials[] = {
    {"\x1f", "\\u{1f}"},
    {" ", " "},
    {"~", "~"},
    {"\x7f", "\\u{7f}"},
    {"\"", "\\\""},
    {"\\", "\\\\"},
    {"!", "!"},
    {"#", "#"},
    {"[", "["},
    {"]", "]"},
    {"\t", "\\t"},
    {std::string_view("\0", 1), "\\0"},
    {"\xc3\xa9", "\xc3\xa9"},
    {"\xe2\x82\xac", "\xe2\x82\xac"},
    {"\xcc\x81", "\\u{301}"},
    {"\xef\xbf\xbd", "\xef\xbf\xbd"},
};

class QuotedRunTest : public testing::TestWithParam<std::tuple<SpecialByte, int>> {};

TEST_P(QuotedRunTest, SpecialByteAtAnyPositionOfTheWords) {
    const auto& [special, position] = GetParam();
    const std::string before(static_cast<std::size_t>(position), 'a');
    const std::string after(static_cast<std::size_t>(19 - position), 'z');
    std::string out;
    append_quoted(out, before + std::string(special.bytes) + after);
    EXPECT_EQ(out, "\"" + before + std::string(special.rendered) + after + "\"");
}

INSTANTIATE_TEST_SUITE_P(AllPositions, QuotedRunTest,
                         testing::Combine(testing::ValuesIn(kSpecials), testing::Range(0, 20)));

TEST(QuotedRunTest, EveryByteValueAfterAFullWord) {
    // A word of plain text, then each byte value alone: only the values that
    // stand for themselves may come out unchanged.
    for (int value = 0; value < 0x80; ++value) {
        const char byte = static_cast<char>(value);
        std::string out;
        append_quoted(out, std::string("abcdefgh") + byte + "ijklmnop");
        const bool plain = value >= 0x20 && value < 0x7F && byte != '"' && byte != '\\';
        EXPECT_EQ(out == std::string("\"abcdefgh") + byte + "ijklmnop\"", plain) << value;
    }
}

}  // namespace
}  // namespace kav

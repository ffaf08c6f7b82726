// Quoting copies runs of plain ASCII sixteen or eight bytes at a time, and
// makes room for escapes as it meets them. Whatever the position of a byte
// that needs care within or across those steps, and whatever its value, the
// text must come out exactly as one written character by character.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "aprs_types.hpp"
#include "case_names.hpp"

namespace kav {
namespace {

struct SpecialByte {
    std::string_view bytes;     // as it stands in the text
    std::string_view rendered;  // as it must appear between the quotes
};

void PrintTo(const SpecialByte& c, std::ostream* out) {
    *out << test::quoted(c.bytes);
}

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
    {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
    {"\xe2\x80\x8b", "\\u{200b}"},
    // Ill-formed: a lone continuation byte, and sequences cut short by a
    // plain byte, each one U+FFFD.
    {"\x80", "\xef\xbf\xbd"},
    {"\xc3", "\xef\xbf\xbd"},
    {"\xe2\x82", "\xef\xbf\xbd"},
    {"\xf0\x9f\x98", "\xef\xbf\xbd"},
};

class QuotedRunTest : public testing::TestWithParam<std::tuple<SpecialByte, int>> {};

TEST_P(QuotedRunTest, SpecialByteAtAnyPositionOfTheSteps) {
    const auto& [special, position] = GetParam();
    // Texts that end inside the first, second and third step of sixteen.
    for (const int length : {20, 33, 47}) {
        if (position > length) continue;
        const std::string before(static_cast<std::size_t>(position), 'a');
        const std::string after(static_cast<std::size_t>(length - position), 'z');
        std::string out;
        append_quoted(out, before + std::string(special.bytes) + after);
        EXPECT_EQ(out, "\"" + before + std::string(special.rendered) + after + "\"") << length;
    }
}

INSTANTIATE_TEST_SUITE_P(AllPositions, QuotedRunTest,
                         testing::Combine(testing::ValuesIn(kSpecials), testing::Range(0, 48)),
    test::CaseName{});

TEST(QuotedRunTest, TextsOfOneCharacterRepeated) {
    // Texts of nothing but one character, after a prefix already in the
    // output: the room made must hold even control characters, each of which
    // grows sixfold.
    for (const SpecialByte& special : kSpecials) {
        for (const std::size_t count : {1u, 2u, 15u, 16u, 17u, 200u}) {
            std::string text;
            std::string rendered = "prefix \"";
            for (std::size_t i = 0; i < count; ++i) {
                text += special.bytes;
                rendered += special.rendered;
            }
            std::string out = "prefix ";
            append_quoted(out, text);
            EXPECT_EQ(out, rendered + "\"") << special.rendered << " x" << count;
        }
    }
}

TEST(QuotedRunTest, AnEscapeMakesRoomForItselfOnly) {
    // One control character ahead of a megabyte of plain text: the output may
    // grow as strings do (at most twice), not by the most every byte after
    // the escape could need.
    const std::string text = "\x01" + std::string(1 << 20, 'p');
    std::string out;
    append_quoted(out, text);
    EXPECT_EQ(out, "\"\\u{1}" + text.substr(1) + "\"");
    EXPECT_LE(out.capacity(), 2 * out.size());
}

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

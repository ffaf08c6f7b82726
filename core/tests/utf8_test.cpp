// Strict validation, lossy conversion with maximal-subpart replacement, and
// stepping through text one code point at a time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "case_names.hpp"
#include "utf8.hpp"

namespace kav {
namespace {

constexpr std::string_view kFFFD = "\xEF\xBF\xBD";

std::string repeat_fffd(int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += kFFFD;
    return out;
}

struct Utf8Case {
    std::string_view name;
    std::string_view bytes;
    std::string lossy;  // expected lossy text; equal to `bytes` exactly when valid
};

void PrintTo(const Utf8Case& c, std::ostream* out) {
    *out << c.name;
}

class Utf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, ValidationAndLossyConversionAgree) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(is_valid_utf8(c.bytes), c.lossy == c.bytes);
    EXPECT_EQ(lossy_utf8(c.bytes), c.lossy);
    EXPECT_TRUE(is_valid_utf8(lossy_utf8(c.bytes)));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Test,
    testing::Values(Utf8Case{"Empty", "", ""},
                    Utf8Case{"Ascii", "FLRDDA5BA>KAFLR", "FLRDDA5BA>KAFLR"},
                    Utf8Case{"Nul", std::string_view("a\0b", 3), std::string("a\0b", 3)},
                    Utf8Case{"TwoByte", "\xC3\xA9", "\xC3\xA9"},
                    Utf8Case{"ThreeByte", "\xE2\x82\xAC", "\xE2\x82\xAC"},
                    Utf8Case{"FourByte", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
                    Utf8Case{"LargestCodePoint", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
                    Utf8Case{"LastBeforeSurrogates", "\xED\x9F\xBF", "\xED\x9F\xBF"},
                    Utf8Case{"LoneFF", "\xFF", repeat_fffd(1)},
                    Utf8Case{"LoneContinuation", "a\x80z", "a" + repeat_fffd(1) + "z"},
                    Utf8Case{"OverlongTwoByte", "\xC0\xAF", repeat_fffd(2)},
                    Utf8Case{"OverlongC1", "\xC1\xBF", repeat_fffd(2)},
                    Utf8Case{"OverlongThreeByte", "\xE0\x80\xAF", repeat_fffd(3)},
                    Utf8Case{"TruncatedAfterE0", "\xE0\x80", repeat_fffd(2)},
                    Utf8Case{"OverlongFourByte", "\xF0\x80\x80\xAF", repeat_fffd(4)},
                    Utf8Case{"Surrogate", "\xED\xA0\x80", repeat_fffd(3)},
                    Utf8Case{"AboveLargest", "\xF4\x90\x80\x80", repeat_fffd(4)},
                    Utf8Case{"LeadAboveF4", "\xF5\x80\x80\x80", repeat_fffd(4)},
                    Utf8Case{"TruncatedFourByte", "\xF0\x9F\x98", repeat_fffd(1)},
                    Utf8Case{"TruncatedThenAscii",
                             "\xF0\x9F\x98"
                             "A",
                             repeat_fffd(1) + "A"},
                    Utf8Case{"TruncatedTwoByteAtEnd", "ab\xC3", "ab" + repeat_fffd(1)},
                    Utf8Case{"LeadInterruptedByLead", "\xE2\xC3\xA9", repeat_fffd(1) + "\xC3\xA9"},
                    // The example of maximal subparts in the Unicode Standard (Table 3-8).
                    Utf8Case{
                        "StandardExample", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
                        "a" + repeat_fffd(3) + "b" + repeat_fffd(1) + "c" + repeat_fffd(2) + "d"}),
    test::CaseName{});

TEST(DecodeNextTest, StepsThroughEachCodePoint) {
    const std::string_view text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::vector<char32_t> code_points;
    std::vector<std::size_t> positions;
    for (std::size_t pos = 0; pos < text.size();) {
        code_points.push_back(decode_next(text, pos));
        positions.push_back(pos);
    }
    EXPECT_EQ(code_points, (std::vector<char32_t>{U'a', 0xE9, 0x20AC, 0x1F600}));
    EXPECT_EQ(positions, (std::vector<std::size_t>{1, 3, 6, 10}));
}

TEST(DecodeNextTest, IllFormedInputStillAdvancesWithoutOverrun) {
    // A truncated sequence at the very end must not read past the view.
    const std::string storage =
        "\xF0\x9F\x98"
        "XYZ";
    const std::string_view text(storage.data(), 3);
    std::size_t pos = 0;
    EXPECT_EQ(decode_next(text, pos), char32_t{0xFFFD});
    EXPECT_EQ(pos, 3u);
}

}  // namespace
}  // namespace kav

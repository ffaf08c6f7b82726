// The names parameterized suites give their cases: valid GoogleTest names,
// unique within a suite, and saying which input a case holds.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "case_names.hpp"

namespace kav {
namespace {

struct NameCase {
    std::string_view name;
    std::string_view text;
    std::size_t longest;
    std::string_view expected;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << c.name;
}

class NameCharactersTest : public testing::TestWithParam<NameCase> {};

TEST_P(NameCharactersTest, KeepsLettersAndDigitsOnly) {
    const auto& c = GetParam();
    EXPECT_EQ(test::name_characters(c.text, c.longest), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NameCharactersTest,
    testing::Values(NameCase{"Empty", "", 40, ""}, NameCase{"Plain", "Glider7", 40, "Glider7"},
                    NameCase{"RunsOfOthersBecomeOne", "empty  line", 40, "empty_line"},
                    NameCase{"NoUnderscoreAtTheEnds", "\"+12.5\"", 40, "12_5"},
                    NameCase{"BytesAboveAscii", "Z\xC3\xA9!", 40, "Z"},
                    NameCase{"CutAtTheLimit", "abcdef", 3, "abc"},
                    NameCase{"NoUnderscoreLeftByTheCut", "ab cd", 3, "ab"}),
    test::CaseName{});

TEST(QuotedTest, EscapesQuotesBackslashesAndBytesOutsidePrintableAscii) {
    EXPECT_EQ(test::quoted(""), R"("")");
    EXPECT_EQ(test::quoted(std::string_view("a\"\\\0\x7F\xC3\xA9~", 8)),
              R"("a\"\\\x00\x7F\xC3\xA9~")");
}

struct UnnamedCase {
    std::string_view input;
};

void PrintTo(const UnnamedCase& c, std::ostream* out) {
    *out << test::quoted(c.input);
}

TEST(CaseNameTest, UnnamedCasesAreNumberedBeforeTheirInput) {
    const test::CaseName name;
    EXPECT_EQ(name(testing::TestParamInfo<UnnamedCase>(UnnamedCase{"+12345"}, 3)), "3_12345");
    EXPECT_EQ(name(testing::TestParamInfo<UnnamedCase>(UnnamedCase{""}, 0)), "0");
    // Inputs that differ only in punctuation still get names of their own.
    EXPECT_NE(name(testing::TestParamInfo<UnnamedCase>(UnnamedCase{"-inf"}, 4)),
              name(testing::TestParamInfo<UnnamedCase>(UnnamedCase{"+inf"}, 5)));
    const std::string long_input(200, 'x');
    EXPECT_EQ(name(testing::TestParamInfo<UnnamedCase>(UnnamedCase{long_input}, 1)),
              "1_" + std::string(40, 'x'));
}

}  // namespace
}  // namespace kav

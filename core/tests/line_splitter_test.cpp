// Line splitting: every form of line end, and the edges of the buffer.
#include "case_names.hpp"
#include "line_splitter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kav {
namespace {

std::vector<std::string> split(std::string_view data) {
    std::vector<std::string> lines;
    LineSplitter splitter(data);
    for (std::string_view line; splitter.next(line);) lines.emplace_back(line);
    return lines;
}

using namespace std::string_literals;

struct SplitCase {
    const char* name;
    std::string data;
    std::vector<std::string> lines;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

class LineSplitterTest : public testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitterTest, YieldsTheLinesWithoutTheirEnds) {
    EXPECT_EQ(split(GetParam().data), GetParam().lines);
}

// Every line the splitter yields has an end, but a last one without.
TEST_P(LineSplitterTest, CountsTheLineEndsItFinds) {
    const std::string& data = GetParam().data;
    const bool last_line_unended = !data.empty() && data.back() != '\n' && data.back() != '\r';
    EXPECT_EQ(count_line_ends(data), GetParam().lines.size() - (last_line_unended ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineSplitterTest,
    testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"NoLineEnd", "a", {"a"}},
                    SplitCase{"LineFeed", "a\nb\n", {"a", "b"}},
                    SplitCase{"CarriageReturnLineFeed", "a\r\nb\r\n", {"a", "b"}},
                    SplitCase{"LoneCarriageReturns", "a\rb\r", {"a", "b"}},
                    SplitCase{"CarriageReturnAtTheEnd", "a\r", {"a"}},
                    SplitCase{"OnlyACarriageReturn", "\r", {""}},
                    SplitCase{"LastLineWithoutEndAfterCarriageReturn", "a\rb", {"a", "b"}},
                    SplitCase{"MixedEnds", "a\nb\r\nc\rd", {"a", "b", "c", "d"}},
                    SplitCase{"BlankLines", "\n\n\r\n\r", {"", "", "", ""}},
                    SplitCase{"TwoCarriageReturnsAreTwoEnds", "a\r\rb", {"a", "", "b"}},
                    SplitCase{"LineFeedThenCarriageReturnAreTwoEnds", "a\n\rb", {"a", "", "b"}},
                    SplitCase{"PairThenLineFeed", "a\r\n\nb", {"a", "", "b"}},
                    SplitCase{
                        "CarriageReturnBeforeAFarLineFeed", "a\rb\rc\nd", {"a", "b", "c", "d"}},
                    SplitCase{"CommentsAreLinesToo", "# server\nx", {"# server", "x"}},
                    SplitCase{"NulBytesStayInTheLine", "a\0b\nc\0"s, {"a\0b"s, "c\0"s}},
                    SplitCase{"InvalidUtf8StaysInTheLine", "\xFF\xFE\r\x80", {"\xFF\xFE", "\x80"}}),
    test::CaseName{});

struct LineStartCase {
    const char* name;
    std::string data;
    std::size_t searched;
    std::size_t start;  // data.size() + 1: none
};

void PrintTo(const LineStartCase& c, std::ostream* out) {
    *out << c.name;
}

class LineStartTest : public testing::TestWithParam<LineStartCase> {};

TEST_P(LineStartTest, IsPastTheFirstLineEndInTheSearchedBytes) {
    const LineStartCase& c = GetParam();
    EXPECT_EQ(past_first_line_end(c.data, c.searched), c.start);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineStartTest,
    testing::Values(LineStartCase{"Empty", "", 0, 1}, LineStartCase{"NoLineEnd", "abc", 3, 4},
                    LineStartCase{"LineFeed", "ab\ncd", 6, 3},
                    LineStartCase{"PairInside", "ab\r\ncd", 6, 4},
                    LineStartCase{"LoneCarriageReturn", "ab\rcd", 5, 3},
                    LineStartCase{"CarriageReturnFirstBeforeALineFeed", "a\rb\n", 4, 2},
                    LineStartCase{"PairAcrossTheSearchedEnd", "ab\r\n", 3, 4},
                    LineStartCase{"LoneAtTheSearchedEnd", "ab\rx", 3, 3},
                    LineStartCase{"CarriageReturnEndingTheData", "ab\r", 3, 3},
                    LineStartCase{"LineEndPastTheSearchedBytes", "abc\n", 3, 5}),
    test::CaseName{});

TEST(LineSplitterTest, KeepsALongLineWhole) {
    const std::string line(3 << 20, 'x');
    EXPECT_EQ(split(line + "\r\n" + line), (std::vector<std::string>{line, line}));
}

// Many lines ended by "\r" and no "\n" at all: each line must cost its own
// length, not the rest of the buffer (which here would be about 10^12 steps).
TEST(LineSplitterTest, SplitsManyCarriageReturnLinesOfOneBuffer) {
    constexpr std::size_t kLines = 1 << 20;
    std::string data;
    for (std::size_t i = 0; i < kLines; ++i) data += "ab\r";
    LineSplitter splitter(data);
    std::size_t count = 0;
    for (std::string_view line; splitter.next(line); ++count) ASSERT_EQ(line, "ab");
    EXPECT_EQ(count, kLines);
}

}  // namespace
}  // namespace kav

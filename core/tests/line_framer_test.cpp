// Framing a stream read by read must give the lines of the whole stream,
// wherever the reads are cut: inside a line, between "\r" and "\n", in a line
// longer than the limit. Each case is cut every way in two and three reads.
#include "case_names.hpp"
#include "decode_lines.hpp"
#include "line_framer.hpp"
#include "line_splitter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kav {
namespace {

using namespace std::string_literals;

// A line as a reader sees it: its kept bytes and its whole length.
struct Line {
    std::string text;
    std::uint64_t length;
    bool operator==(const Line&) const = default;
};

void PrintTo(const Line& line, std::ostream* out) {
    *out << test::quoted(line.text) << " (" << line.length << " bytes)";
}

// The lines of the whole input at once, cut to `limit` bytes: the oracle.
std::vector<Line> whole_input_lines(std::string_view data, std::size_t limit) {
    std::vector<Line> lines;
    LineSplitter splitter(data);
    for (std::string_view line; splitter.next(line);) {
        lines.push_back({std::string(limit ? line.substr(0, limit) : line), line.size()});
    }
    return lines;
}

// The lines of a run, its carried start joined to its first line.
void append_lines(const LineRun& run, std::size_t limit, std::vector<Line>& out) {
    const std::string joined = std::string(run.carried) + std::string(run.lines);
    LineSplitter splitter(joined);
    std::uint64_t cut = run.carried_cut;
    for (std::string_view line; splitter.next(line); cut = 0) {
        out.push_back({std::string(limit ? line.substr(0, limit) : line), line.size() + cut});
    }
}

// The input framed in reads cut at `cuts`, then finished.
std::vector<Line> framed_lines(std::string_view data, const std::vector<std::size_t>& cuts,
                               std::size_t limit) {
    LineFramer framer(limit);
    std::vector<Line> lines;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        const std::string read(data.substr(from, cut - from));  // its own memory, as a read's
        if (const auto framed = framer.frame(read)) {
            EXPECT_EQ(count_lines(framed->run_of(read)),
                      whole_input_lines(std::string(framed->carried) +
                                            std::string(framed->run_of(read).lines), 0)
                          .size());
            append_lines(framed->run_of(read), limit, lines);
        }
        from = cut;
    }
    const std::string read(data.substr(from));
    if (const auto framed = framer.frame(read)) append_lines(framed->run_of(read), limit, lines);
    if (const auto last = framer.finish()) append_lines(last->run_of(""), limit, lines);
    return lines;
}

struct FrameCase {
    const char* name;
    std::string data;
    std::size_t limit;
};

void PrintTo(const FrameCase& c, std::ostream* out) {
    *out << c.name;
}

class LineFramerTest : public testing::TestWithParam<FrameCase> {};

TEST_P(LineFramerTest, GivesTheLinesOfTheWholeInputWhereverTheReadsAreCut) {
    const FrameCase& c = GetParam();
    const std::vector<Line> expected = whole_input_lines(c.data, c.limit);
    EXPECT_EQ(framed_lines(c.data, {}, c.limit), expected);
    for (std::size_t first = 0; first <= c.data.size(); ++first) {
        SCOPED_TRACE("cut at " + std::to_string(first));
        ASSERT_EQ(framed_lines(c.data, {first}, c.limit), expected);
        for (std::size_t second = first; second <= c.data.size(); ++second) {
            SCOPED_TRACE("and at " + std::to_string(second));
            ASSERT_EQ(framed_lines(c.data, {first, second}, c.limit), expected);
        }
    }
}

// The same cuts through the gathering of a live feed, taken at every cut.
TEST_P(LineFramerTest, GatheredAndTakenAtAnyReadTheLinesAreTheSame) {
    const FrameCase& c = GetParam();
    const std::vector<Line> expected = whole_input_lines(c.data, c.limit);
    for (std::size_t first = 0; first <= c.data.size(); ++first) {
        for (std::size_t second = first; second <= c.data.size(); ++second) {
            SCOPED_TRACE("cuts at " + std::to_string(first) + " and " + std::to_string(second));
            GatheredLines gathered(c.limit);
            std::vector<Line> lines;
            std::size_t counted = 0;
            const auto take = [&] {
                GatheredLines::Taken taken = gathered.take();
                for (const LineRun& run : taken.runs()) append_lines(run, c.limit, lines);
            };
            for (const auto& [from, to] : {std::pair{std::size_t{0}, first},
                                          std::pair{first, second},
                                          std::pair{second, c.data.size()}}) {
                counted += gathered.push(std::string(c.data.substr(from, to - from)));
                take();
            }
            if (const auto last = gathered.framer().finish()) {
                append_lines(last->run_of(""), c.limit, lines);
                ++counted;
            }
            ASSERT_EQ(lines, expected);
            EXPECT_EQ(counted, expected.size());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineFramerTest,
    testing::Values(
        FrameCase{"Empty", "", 0}, FrameCase{"OneLineWithoutEnd", "abc", 0},
        FrameCase{"EveryLineEnd", "a\nb\r\nc\rd\n\r\n\r\r\ne", 0},
        FrameCase{"CarriageReturnLineFeedAtTheEnd", "ab\r\n", 0},
        FrameCase{"CarriageReturnsOnly", "a\r\r\rb\r", 0},
        FrameCase{"LineFeedsAfterAPair", "a\r\n\n\nb", 0},
        FrameCase{"AtTheLimit", "abcd\r\nefgh\n", 4},
        FrameCase{"OverTheLimit", "abcdefgh\r\nij\nklmnopq", 4},
        FrameCase{"LoneCarriageReturnThenALineOverTheLimit", "a\rbcdefghij\nk\n", 3},
        FrameCase{"BlankAndCommentLinesOverTheLimit", "\n#comment\r\n\r", 2},
        FrameCase{"NulBytes", "a\0b\r\0\n"s, 2}),
    test::CaseName{});

// A line over the limit costs the limit, however much of it arrives.
TEST(LineFramerTest, HoldsNoMoreOfAnUnfinishedLineThanTheLimit) {
    LineFramer framer(8);
    const std::string chunk(1 << 16, 'x');
    for (int i = 0; i < 64; ++i) EXPECT_FALSE(framer.frame(chunk));
    EXPECT_EQ(framer.unfinished_bytes(), 64u << 16);
    const auto framed = framer.frame("\r\nnext\n");
    ASSERT_TRUE(framed);
    EXPECT_EQ(framed->carried, "xxxxxxxx");
    EXPECT_EQ(framed->carried_cut, (64u << 16) - 8);
}

// A connection that ends drops its unfinished line and the "\r" it ended on:
// the next connection's first "\n" is a line end of its own.
TEST(LineFramerTest, DroppingTheUnfinishedLineStartsAfresh) {
    LineFramer framer;
    ASSERT_TRUE(framer.frame("a\r"));
    EXPECT_EQ(framer.drop_unfinished(), 0u);
    const auto blank = framer.frame("\n");
    ASSERT_TRUE(blank);
    EXPECT_EQ(blank->end - blank->begin, 1u);
    EXPECT_FALSE(framer.frame("partial"));
    EXPECT_EQ(framer.drop_unfinished(), 7u);
    EXPECT_FALSE(framer.finish());
}

// Lines taken are handed on by moving them (into a Frame, to be decoded): their
// runs are those of their text wherever it now is, also when it is short
// enough to be kept inside the string itself, whose bytes then move with it.
TEST(LineFramerTest, TakenLinesMovedElsewhereAreStillTheirs) {
    for (const std::string& data : {"ab\r\nc\n"s, std::string(100, 'x') + "\n"}) {
        SCOPED_TRACE(data.size());
        GatheredLines gathered;
        ASSERT_EQ(gathered.push(data.substr(0, 1)), 0u);
        ASSERT_EQ(gathered.push(data.substr(1)), whole_input_lines(data, 0).size());
        GatheredLines::Taken taken = gathered.take();
        GatheredLines::Taken moved;
        moved = std::move(taken);
        taken.text.assign(data.size(), '?');  // the string moved from, reused as a temporary's storage is
        std::vector<Line> lines;
        for (const LineRun& run : moved.runs()) append_lines(run, 0, lines);
        EXPECT_EQ(lines, whole_input_lines(data, 0));
    }
}

// The decoder reports a line over the limit with its length and first bytes,
// whether the line came whole in one run or cut across reads.
TEST(LineFramerTest, ALineOverTheLimitFailsAsLineTooLong) {
    const std::string id = " id06ABCDEF";
    const std::string valid =
        "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000" + id;
    const std::string data = valid + "\r" + std::string(40, 'y') + "\n" + valid + "\n";
    LineFramer framer(32);
    std::vector<std::string> reads = {data.substr(0, valid.size() + 5), data.substr(valid.size() + 5)};
    std::vector<FramedRead> framed;
    for (const std::string& read : reads) {
        if (auto run = framer.frame(read)) framed.push_back(std::move(*run));
    }
    ASSERT_EQ(framed.size(), 2u);
    const std::vector<LineRun> runs = {framed[0].run_of(reads[0]), framed[1].run_of(reads[1])};
    const auto decoded = decode_lines(runs, 1, 32);
    ASSERT_TRUE(decoded.ok());
    const DecodedLines& lines = decoded.value();
    EXPECT_EQ(lines.counts.lines, 3u);
    EXPECT_EQ(lines.counts.failed, 3u);  // the beacons too are longer than 32 bytes
    EXPECT_EQ(lines.counts.failures[kLineTooLongKind], 3u);
    EXPECT_EQ(lines.errors.line_number()[1], 2u);
    EXPECT_EQ(lines.errors.line()[1], std::string(32, 'y'));
    EXPECT_EQ(lines.errors.error()[1], "LineTooLong: a line of 40 bytes, cut at 32");
    EXPECT_EQ(lines.errors.error_kind().text(1), "LineTooLong");
}

}  // namespace
}  // namespace kav

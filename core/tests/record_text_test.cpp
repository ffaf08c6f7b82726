// Text records of decoded tables: the escaping of texts in JSON and CSV, and
// whole rows as the command writes them.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

#include "case_names.hpp"
#include "decode_lines.hpp"
#include "record_text.hpp"

namespace kav {
namespace {

struct TextCase {
    std::string_view name;
    std::string_view text;
    std::string_view json;
    std::string_view csv;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << c.name;
}

class RecordTextEscapeTest : public testing::TestWithParam<TextCase> {};

TEST_P(RecordTextEscapeTest, Json) {
    std::string out;
    append_json_string(out, GetParam().text);
    EXPECT_EQ(out, GetParam().json);
}

TEST_P(RecordTextEscapeTest, Csv) {
    std::string out;
    append_csv_field(out, GetParam().text);
    EXPECT_EQ(out, GetParam().csv);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RecordTextEscapeTest,
    testing::Values(
        TextCase{"Empty", "", R"("")", ""}, TextCase{"Plain", "RX1", R"("RX1")", "RX1"},
        TextCase{"Quote", R"(say "hi")", R"("say \"hi\"")", R"("say ""hi""")"},
        TextCase{"Backslash", R"(a\b)", R"("a\\b")", R"(a\b)"},
        TextCase{"Comma", "qAS,Station", R"("qAS,Station")", R"("qAS,Station")"},
        TextCase{"LineEnds", "a\nb\rc", R"("a\nb\rc")", "\"a\nb\rc\""},
        TextCase{"NamedControls", "\t\b\f", R"("\t\b\f")", "\t\b\f"},
        TextCase{"OtherControls", std::string_view("\x01\x1f\0", 3), R"("\u0001\u001f\u0000")",
                 std::string_view("\x01\x1f\0", 3)},
        TextCase{"DeleteIsKept", "\x7f", "\"\x7f\"", "\x7f"},
        TextCase{"Utf8IsKept", "Z\xC3\xBCrich \xE2\x82\xAC", "\"Z\xC3\xBCrich \xE2\x82\xAC\"",
                 "Z\xC3\xBCrich \xE2\x82\xAC"},
        TextCase{"LoneByte", "X1\xff>", R"("X1\\xff>")", R"(X1\xff>)"},
        TextCase{"TruncatedSequence", "\xE2\x82!", R"("\\xe2\\x82!")", R"(\xe2\x82!)"},
        TextCase{"SurrogateBytes", "\xED\xA0\x80", R"("\\xed\\xa0\\x80")", R"(\xed\xa0\x80)"},
        TextCase{"BadByteInQuotedField", "a,\x80\"", R"("a,\\x80\"")", R"("a,\x80""")"}),
    test::CaseName{});

// Texts are passed over eight bytes at a time: each case again at every
// offset within a longer plain text, so that what needs escaping falls on
// every position of a word, and across two.
TEST_P(RecordTextEscapeTest, AtEveryOffsetOfALongerText) {
    const TextCase& c = GetParam();
    const auto inner = [](std::string_view quoted) { return quoted.substr(1, quoted.size() - 2); };
    const bool csv_quoted = !c.csv.empty() && c.csv.front() == '"';
    for (std::size_t before = 0; before <= 17; ++before) {
        const std::string head(before, 'a');
        const std::string tail(17 - before, 'z');
        std::string json;
        append_json_string(json, head + std::string(c.text) + tail);
        EXPECT_EQ(json, "\"" + head + std::string(inner(c.json)) + tail + "\"") << before;
        std::string csv;
        append_csv_field(csv, head + std::string(c.text) + tail);
        const std::string csv_body = head + std::string(csv_quoted ? inner(c.csv) : c.csv) + tail;
        EXPECT_EQ(csv, csv_quoted ? "\"" + csv_body + "\"" : csv_body) << before;
    }
}

constexpr std::string_view kValid =
    "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF";

DecodedLines decoded(std::string_view data) {
    auto result = decode_lines(data, 7);
    EXPECT_TRUE(result);
    return std::move(result).value();
}

struct RowCase {
    std::string_view name;
    std::string_view line;
    std::string_view json;
    std::string_view csv;  // the row after the header
};

void PrintTo(const RowCase& c, std::ostream* out) {
    *out << c.name;
}

class RecordTextRowTest : public testing::TestWithParam<RowCase> {};

TEST_P(RecordTextRowTest, BeaconRow) {
    const DecodedLines lines = decoded(GetParam().line);
    ASSERT_EQ(lines.beacons.rows(), 1u);
    std::string json;
    EXPECT_TRUE(append_json_lines(json, lines.beacons, "feed, 1"));
    EXPECT_EQ(json, GetParam().json);
    std::string csv;
    append_csv_header<BeaconColumns>(csv);
    EXPECT_TRUE(append_csv_rows(csv, lines.beacons, "feed, 1"));
    EXPECT_EQ(csv,
              "source,line_number,callsign,q_construct,receiver,kav_aprs_protocol,time,latitude,"
              "longitude,ground_track,ground_speed,gps_altitude,aircraft_type,address_type,"
              "no_track,stealth_mode,address\n" +
                  std::string(GetParam().csv));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecordTextRowTest,
    testing::Values(
        RowCase{"Typical", kValid,
                R"({"source": "feed, 1", "line_number": 7, "callsign": "X1", "q_construct": "qAS", )"
                R"("receiver": "RX1", "kav_aprs_protocol": "KAFLR", "time": "12:34:56", )"
                R"("latitude": 46.5, "longitude": 8.5, "ground_track": 90.0, "ground_speed": 50.0, )"
                R"("gps_altitude": 1000.0, "aircraft_type": "Glider", "address_type": "FLARM", )"
                R"("no_track": false, "stealth_mode": false, "address": "ABCDEF"})"
                "\n",
                "\"feed, 1\",7,X1,qAS,RX1,KAFLR,12:34:56,46.5,8.5,90.0,50.0,1000.0,Glider,FLARM,"
                "false,false,ABCDEF\n"},
        // South and west, flags set, a receiver with a comma, midnight, address 0.
        RowCase{"Extremes",
                "K>KAVSKY,WIDE1-1,qAS,\"St\":/000000h0000.01S/17959.99W'000/000/A=-00001 idFF000000",
                R"({"source": "feed, 1", "line_number": 7, "callsign": "K", "q_construct": "WIDE1-1", )"
                R"("receiver": "qAS,\"St\"", "kav_aprs_protocol": "KAVSKY", "time": "00:00:00", )"
                R"("latitude": -0.00016666666666666666, "longitude": -179.99983333333333, )"
                R"("ground_track": 0.0, "ground_speed": 0.0, "gps_altitude": -1.0, )"
                R"("aircraft_type": "StaticObstacle", "address_type": "KAVTracker", )"
                R"("no_track": true, "stealth_mode": true, "address": "000000"})"
                "\n",
                "\"feed, 1\",7,K,WIDE1-1,\"qAS,\"\"St\"\"\",KAVSKY,00:00:00,"
                "-0.00016666666666666666,-179.99983333333333,0.0,0.0,-1.0,StaticObstacle,"
                "KAVTracker,true,true,000000\n"},
        RowCase{"NonFinite",
                "X1>KAFLR,qAS,RX1:/123456h4630.00N/inf00.00W'inf/nan/A=001000 id06ABCDEF",
                R"({"source": "feed, 1", "line_number": 7, "callsign": "X1", "q_construct": "qAS", )"
                R"("receiver": "RX1", "kav_aprs_protocol": "KAFLR", "time": "12:34:56", )"
                R"("latitude": 46.5, "longitude": "-Infinity", "ground_track": "Infinity", )"
                R"("ground_speed": "NaN", "gps_altitude": 1000.0, "aircraft_type": "Glider", )"
                R"("address_type": "FLARM", "no_track": false, "stealth_mode": false, )"
                R"("address": "ABCDEF"})"
                "\n",
                "\"feed, 1\",7,X1,qAS,RX1,KAFLR,12:34:56,46.5,-Infinity,Infinity,NaN,1000.0,"
                "Glider,FLARM,false,false,ABCDEF\n"}),
    test::CaseName{});

TEST(RecordTextErrors, FailedLineKeepsItsBytesAsEscapes) {
    const DecodedLines lines = decoded("X1\xff>KAFLR,qAS,RX1:");
    std::string json;
    EXPECT_TRUE(append_json_lines(json, lines.errors, "<stdin>"));
    EXPECT_EQ(json,
              R"({"source": "<stdin>", "line_number": 7, "error_kind": "InvalidCallsign", )"
              R"("error": "Parse error: ParseError(InvalidCallsign(APRSParseContext { input: )"
              "\\\"X1\xEF\xBF\xBD>KAFLR,qAS,RX1:\\\", "
              R"x(message: \"invalid callsign\" }))", "line": "X1\\xff>KAFLR,qAS,RX1:"})x"
              "\n");
}

// Many rows pass through the spill in pieces that add up to the whole text;
// a spill that fails stops the writing.
TEST(RecordTextSpill, PiecesAddUpAndAFailureStops) {
    std::string data;
    for (int i = 0; i < 3000; ++i) (data += kValid) += '\n';
    const DecodedLines lines = decoded(data);
    std::string whole;
    ASSERT_TRUE(append_json_lines(whole, lines.beacons, "s"));
    ASSERT_GT(whole.size(), 2 * kRecordSpillBytes);

    std::string spilled;
    int spills = 0;
    std::string buffer;
    const RecordSpill keep = [&](std::string& full) {
        ++spills;
        spilled += full;
        full.clear();
        return true;
    };
    ASSERT_TRUE(append_json_lines(buffer, lines.beacons, "s", keep));
    EXPECT_EQ(spilled + buffer, whole);
    EXPECT_GE(spills, 2);

    buffer.clear();
    spills = 0;
    const RecordSpill refuse = [&](std::string&) {
        ++spills;
        return false;
    };
    EXPECT_FALSE(append_csv_rows(buffer, lines.beacons, "s", refuse));
    EXPECT_EQ(spills, 1);
}

}  // namespace
}  // namespace kav

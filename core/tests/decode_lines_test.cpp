// Decoding a buffer must give, row for row, what parsing each line alone
// gives: the same values (floats to the bit), the same error texts, and every
// line counted once.
#include "case_names.hpp"
#include "decode_lines.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "parse.hpp"

namespace kav {
namespace {

using namespace std::string_literals;

// The lines of `data` by the rule, one byte at a time: the oracle the
// splitter's faster search is checked against here.
std::vector<std::string_view> reference_lines(std::string_view data) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != '\n' && data[i] != '\r') continue;
        lines.push_back(data.substr(start, i - start));
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < data.size()) lines.push_back(data.substr(start));
    return lines;
}

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

void expect_beacon_row(const BeaconColumns& beacons, std::size_t row, std::uint64_t line_number,
                       const AircraftBeacon& expected) {
    SCOPED_TRACE("beacon row " + std::to_string(row));
    EXPECT_EQ(beacons.line_number()[row], line_number);
    EXPECT_EQ(beacons.callsign()[row], expected.callsign);
    EXPECT_EQ(beacons.q_construct()[row], expected.q_construct);
    EXPECT_EQ(beacons.receiver()[row], expected.receiver);
    EXPECT_EQ(beacons.kav_aprs_protocol()[row], expected.kav_aprs_protocol);
    EXPECT_EQ(beacons.time()[row], static_cast<std::int32_t>(expected.time.seconds));
    EXPECT_EQ(expected.time.nanoseconds, 0u);  // the column holds whole seconds only
    EXPECT_EQ(bits(beacons.latitude()[row]), bits(expected.latitude));
    EXPECT_EQ(bits(beacons.longitude()[row]), bits(expected.longitude));
    EXPECT_EQ(bits(beacons.ground_track()[row]), bits(expected.ground_track));
    EXPECT_EQ(bits(beacons.ground_speed()[row]), bits(expected.ground_speed));
    EXPECT_EQ(bits(beacons.gps_altitude()[row]), bits(expected.gps_altitude));
    const KAVBeaconID& id = expected.kav_beacon_id;
    EXPECT_EQ(beacons.aircraft_type()[row], id.prefix.aircraft_type);
    EXPECT_EQ(beacons.aircraft_type().text(row), text_form(id.prefix.aircraft_type));
    EXPECT_EQ(beacons.address_type()[row], id.prefix.address_type);
    EXPECT_EQ(beacons.no_track()[row], id.prefix.no_track);
    EXPECT_EQ(beacons.stealth_mode()[row], id.prefix.stealth_mode);
    EXPECT_EQ(beacons.address()[row], id.icao_address.value());
}

void expect_error_row(const ErrorColumns& errors, std::size_t row, std::uint64_t line_number,
                      std::string_view line, const BeaconParseError& expected) {
    SCOPED_TRACE("error row " + std::to_string(row));
    EXPECT_EQ(errors.line_number()[row], line_number);
    EXPECT_EQ(errors.error_kind()[row], error_kind_of(expected));
    EXPECT_EQ(errors.error()[row], "Parse error: " + debug_text(expected));
    EXPECT_EQ(errors.line()[row], line);
}

// Every row of `decoded` against the parse of its own line.
void expect_rows_match_the_lines(std::string_view data, std::uint64_t first_line_number,
                                 const DecodedLines& decoded) {
    std::size_t beacon_row = 0;
    std::size_t error_row = 0;
    LineCounts expected;
    const std::vector<std::string_view> lines = reference_lines(data);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty()) {
            ++expected.blank;
        } else if (line.front() == '#') {
            ++expected.comments;
        } else if (const auto parsed = parse_aircraft_beacon(line)) {
            ASSERT_LT(beacon_row, decoded.beacons.rows());
            expect_beacon_row(decoded.beacons, beacon_row++, first_line_number + i, parsed.value());
        } else {
            ASSERT_LT(error_row, decoded.errors.rows());
            expect_error_row(decoded.errors, error_row++, first_line_number + i, line,
                             parsed.error());
            ++expected.failures[error_kind_of(parsed.error())];
        }
    }
    EXPECT_EQ(decoded.beacons.rows(), beacon_row);
    EXPECT_EQ(decoded.errors.rows(), error_row);
    const LineCounts& counts = decoded.counts;
    EXPECT_EQ(counts.lines, lines.size());
    EXPECT_EQ(counts.decoded, beacon_row);
    EXPECT_EQ(counts.failed, error_row);
    EXPECT_EQ(counts.comments, expected.comments);
    EXPECT_EQ(counts.blank, expected.blank);
    EXPECT_EQ(counts.failures, expected.failures);
}

constexpr std::string_view kValid =
    "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF";
// Not-a-number, infinity and negative zero come through the field grammar.
constexpr std::string_view kSpecialFloats =
    "Y>KAADSB,qAS,R:/000000h9959.99N/nan00.00E'inf/nan/A=-00000 id3EABCDEF";
// Aircraft type code 15 (StaticObstacle) sits at index 14 of its dictionary.
constexpr std::string_view kStaticObstacle =
    "Z\xc3\xa9>KAVSKY,q\xe2\x82\xac,R:/235959z9959.99S/17959.99W'359/999/A=-00012 idFF123456";
// Aircraft type code 14 has no member and reads as Reserved.
constexpr std::string_view kCodeWithoutMember =
    "W>KAFLR,qAS,R:/010203h4630.00N/00830.00E'090/050/A=001000 id39000001";
constexpr std::string_view kNoId = "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000";
constexpr std::string_view kBadCallsign = "X 1>KAFLR,qAS,RX1:/123456h";

struct DecodeCase {
    const char* name;
    std::string data;
    std::uint64_t first_line_number;
    LineCounts counts;  // failures per kind unchecked here: they follow the rows
};

LineCounts counts(std::uint64_t decoded, std::uint64_t failed, std::uint64_t comments,
                  std::uint64_t blank) {
    return LineCounts{decoded + failed + comments + blank, decoded, failed, comments, blank, {}};
}

void PrintTo(const DecodeCase& c, std::ostream* out) {
    *out << c.name;
}

class DecodeLinesTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeLinesTest, GivesTheRowsAndCountsOfTheLinesParsedOneByOne) {
    const DecodeCase& c = GetParam();
    const auto decoded = decode_lines(c.data, c.first_line_number);
    ASSERT_TRUE(decoded.ok()) << decoded.error().message;
    const LineCounts& got = decoded.value().counts;
    EXPECT_EQ(got.lines, c.counts.lines);
    EXPECT_EQ(got.decoded, c.counts.decoded);
    EXPECT_EQ(got.failed, c.counts.failed);
    EXPECT_EQ(got.comments, c.counts.comments);
    EXPECT_EQ(got.blank, c.counts.blank);
    expect_rows_match_the_lines(c.data, c.first_line_number, decoded.value());
}

// A stream's chunk starts with the end of a line begun in the previous read:
// cut anywhere, the two pieces decode as the whole buffer does.
TEST_P(DecodeLinesTest, APieceCarriedFromThePreviousReadJoinsTheFirstLine) {
    const DecodeCase& c = GetParam();
    const std::string_view data = c.data;
    std::vector<std::size_t> cuts = {0, data.size() / 2, data.size()};
    if (data.size() < 1000) {
        for (std::size_t cut = 1; cut < data.size(); ++cut) cuts.push_back(cut);
    }
    for (const std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        const auto decoded =
            decode_lines(data.substr(cut), c.first_line_number, data.substr(0, cut));
        ASSERT_TRUE(decoded.ok()) << decoded.error().message;
        expect_rows_match_the_lines(data, c.first_line_number, decoded.value());
    }
}

const std::string kAll = std::string(kValid) + "\n" + std::string(kSpecialFloats) + "\r\n" +
                         std::string(kStaticObstacle) + "\r" + std::string(kCodeWithoutMember) +
                         "\n" + std::string(kNoId) + "\n" + std::string(kBadCallsign);

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeLinesTest,
    testing::Values(
        DecodeCase{"Empty", "", 1, counts(0, 0, 0, 0)},
        DecodeCase{"EveryKindOfLine", kAll, 1, counts(4, 2, 0, 0)},
        DecodeCase{"NumberedFromZero", kAll + "\n", 0, counts(4, 2, 0, 0)},
        DecodeCase{"NumberedFromFar", kAll, (1ull << 63) + 5, counts(4, 2, 0, 0)},
        DecodeCase{"CommentsAndBlankLinesAreCountedNotDecoded",
                   "# server 1\n\n" + std::string(kValid) + "\r\n\r\n#\r" + std::string(kNoId), 10,
                   counts(1, 1, 2, 2)},
        DecodeCase{"AHashAfterTheFirstByteIsNoComment", " #" + std::string(kValid), 1,
                   counts(1, 0, 0, 0)},
        DecodeCase{"TwoBeaconsJoinedByACarriageReturnStayTwo",
                   std::string(kValid) + "\r" + std::string(kValid), 1, counts(2, 0, 0, 0)},
        DecodeCase{"NulBytesAndInvalidUtf8FailAsTheirOwnRows",
                   "\0\n\xFF\xFE\x80\n"s + std::string(kValid) + "\0"s, 1, counts(1, 2, 0, 0)},
        DecodeCase{"ALongBadLine", std::string(1 << 20, '\x01') + "\n" + std::string(kValid), 1,
                   counts(1, 1, 0, 0)}), test::CaseName{});

TEST(DecodeLinesTest, SpecialFloatsKeepTheirBits) {
    const auto decoded = decode_lines(kSpecialFloats, 1);
    ASSERT_TRUE(decoded.ok());
    const BeaconColumns& beacons = decoded.value().beacons;
    ASSERT_EQ(beacons.rows(), 1u);
    EXPECT_TRUE(std::isnan(beacons.longitude()[0]));
    EXPECT_EQ(beacons.ground_track()[0], std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(beacons.ground_speed()[0]));
    EXPECT_EQ(bits(beacons.gps_altitude()[0]), bits(-0.0));
}

TEST(DecodeLinesTest, ErrorRowsCarryKindMessageAndRawLine) {
    const auto decoded = decode_lines(std::string(kNoId) + "\n\x01\r", 3);
    ASSERT_TRUE(decoded.ok());
    const ErrorColumns& errors = decoded.value().errors;
    ASSERT_EQ(errors.rows(), 2u);
    EXPECT_EQ(errors.error_kind().text(0), "MissingKAVBeaconID");
    EXPECT_EQ(errors.error()[0], "Parse error: MissingKAVBeaconID");
    EXPECT_EQ(errors.line()[0], kNoId);
    EXPECT_EQ(errors.line_number()[1], 4u);
    EXPECT_EQ(errors.line()[1], "\x01");
    EXPECT_EQ(decoded.value().counts.failures[kMissingIdKind], 1u);
}

TEST(DecodeLinesTest, RefusesLineNumbersThatCouldPassSixtyFourBits) {
    constexpr std::uint64_t kLast = std::numeric_limits<std::uint64_t>::max();
    EXPECT_TRUE(decode_lines("a", kLast).ok());
    EXPECT_TRUE(decode_lines("", kLast).ok());
    const auto refused = decode_lines("a\n", kLast);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.error().message.find("18446744073709551615"), std::string::npos);
}

TEST(ErrorKindTest, NamesEveryKindInCodeOrder) {
    EXPECT_EQ(kBeaconErrorKindCount, 16u);
    EXPECT_EQ(error_kind_name(0), "UnknownError");
    EXPECT_EQ(error_kind_name(7), "InvalidTimestamp");
    EXPECT_EQ(error_kind_name(13), "InvalidKAVBeaconId");
    EXPECT_EQ(error_kind_name(kMissingIdKind), "MissingKAVBeaconID");
    EXPECT_EQ(error_kind_name(kLineTooLongKind), "LineTooLong");
}

}  // namespace
}  // namespace kav

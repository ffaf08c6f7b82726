// Whole beacon lines: the record of a good line, and the exact error text of
// every way a line can fail, as users read it after "Parse error: ".
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "aprs_types.hpp"
#include "case_names.hpp"
#include "parse.hpp"

namespace kav {
namespace {

using namespace std::string_literals;

constexpr std::string_view kHeader = "X1>KAFLR,qAS,RX1:";
constexpr std::string_view kBlock = "/123456h4630.00N/00830.00E'090/050/A=001000";
constexpr std::string_view kId = " id06ABCDEF";

std::string line_of(std::string_view header, std::string_view block, std::string_view tail) {
    return std::string(header) + std::string(block) + std::string(tail);
}

std::optional<AircraftBeacon> parse_ok(std::string_view line) {
    auto result = parse_aircraft_beacon(line);
    if (result.ok()) return std::move(result).value();
    ADD_FAILURE() << line << "\n -> " << debug_text(result.error());
    return std::nullopt;
}

std::string error_text(std::string_view line) {
    const auto result = parse_aircraft_beacon(line);
    if (result.ok()) return "parsed";
    return debug_text(result.error());
}

TEST(ParseDriver, ReadsEveryFieldOfTheWorkedExample) {
    const auto beacon = parse_ok(line_of(kHeader, kBlock, kId));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->callsign, "X1");
    EXPECT_EQ(beacon->kav_aprs_protocol, KAVAPRSProtocol::KAFLR);
    EXPECT_EQ(beacon->q_construct, "qAS");
    EXPECT_EQ(beacon->receiver, "RX1");
    EXPECT_EQ(beacon->time, (TimeOfDay{12 * 3600 + 34 * 60 + 56, 0}));
    EXPECT_EQ(beacon->latitude, 46.5);
    EXPECT_EQ(beacon->longitude, 8.5);
    EXPECT_EQ(beacon->ground_track, 90.0);
    EXPECT_EQ(beacon->ground_speed, 50.0);
    EXPECT_EQ(beacon->gps_altitude, 1000.0);
    EXPECT_EQ(beacon->kav_beacon_id,
              (KAVBeaconID{KAVIDPrefix::from_byte(0x06), ICAOAddress::new_(0xABCDEF).value()}));
}

TEST(ParseDriver, SouthAndWestNegateBothCoordinates) {
    const auto beacon =
        parse_ok(line_of("X>KAVSKY,qAS,Y:", "/123456h4915.50S/01234.25W'090/045/A=001000", kId));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->latitude, -49.25833333333333);
    EXPECT_EQ(beacon->longitude, -12.570833333333333);
    EXPECT_EQ(beacon->kav_aprs_protocol, KAVAPRSProtocol::KAVSKY);
}

struct HeaderCase {
    std::string_view line_start;
    std::string_view callsign, q_construct, receiver;
};

void PrintTo(const HeaderCase& c, std::ostream* out) {
    *out << test::quoted(c.line_start);
}

class HeaderTexts : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTexts, AreCopiedAsWritten) {
    const auto& c = GetParam();
    const auto beacon = parse_ok(line_of(c.line_start, kBlock, kId));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->callsign, c.callsign);
    EXPECT_EQ(beacon->q_construct, c.q_construct);
    EXPECT_EQ(beacon->receiver, c.receiver);
}

INSTANTIATE_TEST_SUITE_P(
    ParseDriver, HeaderTexts,
    testing::Values(HeaderCase{">KAFLR,qAS,RX:", "", "qAS", "RX"},
                    HeaderCase{"X>KAFLR,,RX:", "X", "", "RX"},
                    HeaderCase{"X>KAFLR,qAS,:", "X", "qAS", ""},
                    HeaderCase{"X>KAFLR,WIDE1-1,qAS,Station:", "X", "WIDE1-1", "qAS,Station"},
                    HeaderCase{"X>KAADSB,xyz,Y:", "X", "xyz", "Y"},
                    HeaderCase{"Z\xC3\xBCrich 1>KAFLR,q\tAS,R\r\n:", "Z\xC3\xBCrich 1", "q\tAS",
                               "R\r\n"},
                    // Header fields may hold bytes that other parts of the line reserve.
                    HeaderCase{"A=1 id>KAFLR,q:S,R>X:", "A=1 id", "q:S", "R>X"}), test::CaseName{});

struct LineCase {
    std::string_view name;
    std::string line;
    std::string expected;  // the error text, or "parsed"
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class WholeLine : public testing::TestWithParam<LineCase> {};

TEST_P(WholeLine, GivesTheExpectedOutcome) {
    const auto& c = GetParam();
    EXPECT_EQ(error_text(c.line), c.expected) << c.line;
}

// Everything after the receiver's ":" of the base line.
std::string block_with(std::string_view replacement_block) {
    return line_of(kHeader, replacement_block, kId);
}

INSTANTIATE_TEST_SUITE_P(
    HeaderFailures, WholeLine,
    testing::Values(
        LineCase{
            "empty line", "",
            R"(ParseError(InvalidCallsign(APRSParseContext { input: "", message: "invalid callsign" })))"},
        LineCase{
            "no callsign separator", "X1 KAFLR,qAS",
            R"(ParseError(InvalidCallsign(APRSParseContext { input: "X1 KAFLR,qAS", message: "invalid callsign" })))"},
        LineCase{"callsign not UTF-8", "X\xFF>KAFLR,q",
                 "ParseError(InvalidCallsign(APRSParseContext { input: \"X\xEF\xBF\xBD>KAFLR,q\", "
                 "message: \"invalid callsign\" }))"},
        LineCase{"overlong form in callsign", "X\xC0\xAF>KAFLR,q",
                 "ParseError(InvalidCallsign(APRSParseContext { input: \"X\xEF\xBF\xBD\xEF\xBF\xBD>"
                 "KAFLR,q\", message: \"invalid callsign\" }))"},
        LineCase{"no comma after destination", "X>KAFLR", R"(ParseError(UnknownError("KAFLR")))"},
        LineCase{"nothing after >", "X>", R"(ParseError(UnknownError("")))"},
        LineCase{"line break in unknown text", "X>KA\nFLR",
                 R"(ParseError(UnknownError("KA\nFLR")))"},
        LineCase{
            "unknown protocol", "X>APRS,qAS,RX:",
            R"(ParseError(InvalidKAVAprsProtocol(APRSParseContext { input: "APRS", message: "Unsupported KAV APRS Protocol" })))"},
        LineCase{
            "protocol in lower case", "X>kaflr,qAS,RX:",
            R"(ParseError(InvalidKAVAprsProtocol(APRSParseContext { input: "kaflr", message: "Unsupported KAV APRS Protocol" })))"},
        LineCase{
            "protocol with trailing blank", "X>KAFLR ,qAS,RX:",
            R"(ParseError(InvalidKAVAprsProtocol(APRSParseContext { input: "KAFLR ", message: "Unsupported KAV APRS Protocol" })))"},
        LineCase{
            "protocol prefix only", "X>KAFL,qAS,RX:",
            R"(ParseError(InvalidKAVAprsProtocol(APRSParseContext { input: "KAFL", message: "Unsupported KAV APRS Protocol" })))"},
        LineCase{
            "empty protocol", "X>,qAS,RX:",
            R"(ParseError(InvalidKAVAprsProtocol(APRSParseContext { input: "", message: "Unsupported KAV APRS Protocol" })))"},
        LineCase{
            "protocol not UTF-8", "X>KA\xFF,qAS,RX:",
            R"(ParseError(InvalidKAVAprsProtocol(APRSParseContext { input: "", message: "Unsupported KAV APRS Protocol" })))"},
        LineCase{
            "no comma after q-construct", "X>KAFLR,qAS",
            R"(ParseError(InvalidQConstruct(APRSParseContext { input: "qAS", message: "invalid q construct" })))"},
        LineCase{
            "q-construct not UTF-8", "X>KAFLR,q\xED\xA0\x80,RX:/",
            "ParseError(InvalidQConstruct(APRSParseContext { input: \"q\xEF\xBF\xBD\xEF\xBF\xBD"
            "\xEF\xBF\xBD,RX:/\", message: \"invalid q construct\" }))"},
        LineCase{
            "no receiver colon", "X>KAFLR,qAS,RX1",
            R"(ParseError(InvalidReceiver(APRSParseContext { input: "RX1", message: "invalid receiver" })))"},
        LineCase{"receiver truncated sequence", "X>KAFLR,qAS,R\xE2\x82:/1",
                 "ParseError(InvalidReceiver(APRSParseContext { input: \"R\xEF\xBF\xBD:/1\", "
                 "message: \"invalid receiver\" }))"},
        LineCase{
            "line ends after receiver", "X>KAFLR,qAS,RX1:",
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "", message: "nom error: Eof" })))"}),
    test::CaseName{});

INSTANTIATE_TEST_SUITE_P(
    TimeFailures, WholeLine,
    testing::Values(
        LineCase{
            "five time bytes", line_of(kHeader, "/12345", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "12345", message: "nom error: Eof" })))"},
        LineCase{
            "six time bytes", line_of(kHeader, "/123456", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "", message: "nom error: Eof" })))"},
        LineCase{"time not UTF-8",
                 line_of(kHeader,
                         "/12\xFF"
                         "456h4630.00N",
                         ""),
                 "ParseError(InvalidTimestamp(APRSParseContext { input: \"12\xEF\xBF\xBD"
                 "456h4630.00N\", message: \"invalid utf8\" }))"},
        LineCase{
            "minus hour", block_with("/-71530h4630.00N/00830.00E'090/050/A=001000"),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "-71530h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF", message: "invalid hour digits" })))"},
        LineCase{
            "minus minute", line_of(kHeader, "/12-400h", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "12-400h", message: "invalid minute digits" })))"},
        LineCase{
            "blank second", line_of(kHeader, "/1234 6h", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "1234 6h", message: "invalid second digits" })))"},
        LineCase{
            "digit then plus", line_of(kHeader, "/1+3456h", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "1+3456h", message: "invalid hour digits" })))"},
        LineCase{
            "hour 24", line_of(kHeader, "/240000h", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "240000h", message: "invalid time" })))"},
        LineCase{
            "minute 60", line_of(kHeader, "/126000h", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "126000h", message: "invalid time" })))"},
        LineCase{
            "leap second", line_of(kHeader, "/125960h", ""),
            R"(ParseError(InvalidTimestamp(APRSParseContext { input: "125960h", message: "invalid time" })))"},
        // A character across the hour/minute or minute/second border.
        LineCase{"character across hour and minute",
                 line_of(kHeader,
                         "/1\xC3\xA9"
                         "456h",
                         ""),
                 "ParseError(InvalidTimestamp(APRSParseContext { input: \"1\xC3\xA9"
                 "456h\", "
                 "message: \"character split across time groups\" }))"},
        LineCase{"character across minute and second",
                 line_of(kHeader,
                         "/12\xE2\x82\xAC"
                         "5h",
                         ""),
                 "ParseError(InvalidTimestamp(APRSParseContext { input: \"12\xE2\x82\xAC"
                 "5h\", "
                 "message: \"character split across time groups\" }))"},
        LineCase{"character inside the hour group",
                 line_of(kHeader,
                         "/\xC3\xA9"
                         "3456h",
                         ""),
                 "ParseError(InvalidTimestamp(APRSParseContext { input: \"\xC3\xA9"
                 "3456h\", "
                 "message: \"invalid hour digits\" }))"}), test::CaseName{});

INSTANTIATE_TEST_SUITE_P(
    CoordinateFailures, WholeLine,
    testing::Values(
        LineCase{
            "one latitude byte", line_of(kHeader, "/123456h4", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "4", message: "invalid number of digits for degrees" })))"},
        LineCase{
            "no latitude byte", line_of(kHeader, "/123456h", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "", message: "invalid number of digits for degrees" })))"},
        LineCase{
            "short minutes with bad digits", line_of(kHeader, "/123456hxx3", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "xx3", message: "invalid number of digits for minutes" })))"},
        LineCase{
            "six latitude bytes", line_of(kHeader, "/123456h4630.0", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "4630.0", message: "invalid number of digits for minutes" })))"},
        LineCase{
            "no hemisphere", line_of(kHeader, "/123456h4915.5N", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "4915.5N", message: "no suffix for coordinate found" })))"},
        LineCase{
            "bad latitude degrees", line_of(kHeader, "/123456h4x30.00N/", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "4x30.00N/", message: "could not parse degrees" })))"},
        LineCase{
            "bad latitude minutes", line_of(kHeader, "/123456h4630,00N/", ""),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "4630,00N/", message: "could not parse minutes" })))"},
        LineCase{"latitude minutes not UTF-8",
                 line_of(kHeader,
                         "/123456h4630\xFF"
                         "00N/",
                         ""),
                 "ParseError(InvalidLatitude(APRSParseContext { input: \"4630\xEF\xBF\xBD"
                 "00N/\", message: \"could not parse minutes\" }))"},
        LineCase{
            "line ends after latitude", line_of(kHeader, "/123456h4630.00N", ""),
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "", message: "nom error: Eof" })))"},
        LineCase{
            "two longitude bytes", line_of(kHeader, "/123456h4630.00N/00", ""),
            R"(ParseError(InvalidLongitude(APRSParseContext { input: "00", message: "invalid number of digits for degrees" })))"},
        LineCase{
            "seven longitude bytes", line_of(kHeader, "/123456h4630.00N/00830.0", ""),
            R"(ParseError(InvalidLongitude(APRSParseContext { input: "00830.0", message: "invalid number of digits for minutes" })))"},
        LineCase{
            "no longitude hemisphere", line_of(kHeader, "/123456h4630.00N/00830.00", ""),
            R"(ParseError(InvalidLongitude(APRSParseContext { input: "00830.00", message: "no suffix for coordinate found" })))"},
        LineCase{
            "blank in longitude degrees", block_with("/123456h4630.00N/12 34.25E'090/050/A=001000"),
            R"(ParseError(InvalidLongitude(APRSParseContext { input: "12 34.25E'090/050/A=001000 id06ABCDEF", message: "could not parse degrees" })))"},
        LineCase{
            "bad longitude minutes", line_of(kHeader, "/123456h4630.00N/008x0.00E", ""),
            R"(ParseError(InvalidLongitude(APRSParseContext { input: "008x0.00E", message: "could not parse minutes" })))"},
        LineCase{
            "line ends after longitude", line_of(kHeader, "/123456h4630.00N/00830.00E", ""),
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "", message: "nom error: Eof" })))"},
        LineCase{
            "letters where degrees belong",
            line_of(kHeader, "X123456zxxxx.xxNX00830.00E'090X050/A=001000", kId),
            R"(ParseError(InvalidLatitude(APRSParseContext { input: "xxxx.xxNX00830.00E'090X050/A=001000 id06ABCDEF", message: "could not parse degrees" })))"}),
    test::CaseName{});

INSTANTIATE_TEST_SUITE_P(
    MotionFailures, WholeLine,
    testing::Values(
        LineCase{
            "short track", line_of(kHeader, "/123456h4630.00N/00830.00E'09", ""),
            R"(ParseError(InvalidGroundTrack(APRSParseContext { input: "09", message: "invalid ground track" })))"},
        LineCase{
            "blank in track", block_with("/123456h4630.00N/00830.00E'09 /045/A=001000"),
            R"(ParseError(InvalidGroundTrack(APRSParseContext { input: "09 /045/A=001000 id06ABCDEF", message: "invalid ground track" })))"},
        LineCase{
            "line ends after track", line_of(kHeader, "/123456h4630.00N/00830.00E'090", ""),
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "", message: "nom error: Eof" })))"},
        LineCase{
            "missing separator shifts speed",
            block_with("/123456h4630.00N/00830.00E'090045A=001000"),
            R"(ParseError(InvalidGroundSpeed(APRSParseContext { input: "45A=001000 id06ABCDEF", message: "invalid ground speed" })))"},
        LineCase{
            "short speed", line_of(kHeader, "/123456h4630.00N/00830.00E'090/05", ""),
            R"(ParseError(InvalidGroundSpeed(APRSParseContext { input: "05", message: "invalid ground speed" })))"},
        LineCase{
            "no altitude tag",
            line_of(kHeader, "/123456h4630.00N/00830.00E'090/050/a=001000 x", ""),
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "/a=001000 x", message: "nom error: TakeUntil" })))"},
        LineCase{
            "line ends after speed", line_of(kHeader, "/123456h4630.00N/00830.00E'090/050", ""),
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "", message: "nom error: TakeUntil" })))"},
        LineCase{
            "short altitude", line_of(kHeader, "/123456h4630.00N/00830.00E'090/050/A=00100", ""),
            R"(ParseError(InvalidGPSAltitude(APRSParseContext { input: "00100", message: "invalid gps altitude" })))"},
        LineCase{
            "bad altitude", block_with("/123456h4630.00N/00830.00E'090/050/A=0010x0"),
            R"(ParseError(InvalidGPSAltitude(APRSParseContext { input: "0010x0 id06ABCDEF", message: "invalid gps altitude" })))"}),
    test::CaseName{});

INSTANTIATE_TEST_SUITE_P(
    IdFailures, WholeLine,
    testing::Values(
        LineCase{"no extension tokens", line_of(kHeader, kBlock, ""), "MissingKAVBeaconID"},
        LineCase{"only other tokens", line_of(kHeader, kBlock, " +198fpm 11.0dB gps2x3"),
                 "MissingKAVBeaconID"},
        LineCase{"capital ID is not the tag", line_of(kHeader, kBlock, " ID0ADDA5BA"),
                 "MissingKAVBeaconID"},
        LineCase{"tab-separated id is inside another token",
                 line_of(kHeader, kBlock, " x\tid0ADDA5BA"), "MissingKAVBeaconID"},
        LineCase{
            "idle after a good id", line_of(kHeader, kBlock, " id06ABCDEF idle"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "idle", message: "invalid kav beacon id format" })))"},
        LineCase{
            "idle before a good id", line_of(kHeader, kBlock, " idle id06ABCDEF"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "idle", message: "invalid kav beacon id format" })))"},
        LineCase{
            "lone tag", line_of(kHeader, kBlock, " id"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "id", message: "invalid kav beacon id format" })))"},
        LineCase{
            "nine-byte token", line_of(kHeader, kBlock, " id0ADDA5B"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "id0ADDA5B", message: "invalid kav beacon id format" })))"},
        LineCase{
            "word starting with id", line_of(kHeader, kBlock, " identity12"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "entity12", message: "invalid kav beacon id: Invalid hexadecimal format" })))"},
        LineCase{
            "bad prefix digit", line_of(kHeader, kBlock, " id0GDDA5BA"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "0GDDA5BA", message: "invalid kav beacon id: Invalid hexadecimal format" })))"},
        LineCase{
            "bad address digit", line_of(kHeader, kBlock, " id0ADDX5BA"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "0ADDX5BA", message: "invalid kav beacon id: Invalid hexadecimal format" })))"},
        LineCase{
            "minus prefix", line_of(kHeader, kBlock, " id-1DDA5BA"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "-1DDA5BA", message: "invalid kav beacon id: Invalid hexadecimal format" })))"},
        LineCase{
            "body not UTF-8",
            line_of(kHeader, kBlock,
                    " id0ADD\xFF"
                    "5BA"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "", message: "invalid kav beacon id: Invalid beacon format: " })))"},
        LineCase{
            "character across prefix and address",
            line_of(kHeader, kBlock,
                    " id0\xC3\xA9"
                    "DA5BA"),
            "ParseError(InvalidKAVBeaconId(APRSParseContext { input: \"0\xC3\xA9"
            "DA5BA\", "
            "message: \"invalid kav beacon id: character split across prefix and address\" }))"},
        LineCase{
            "line break in token", line_of(kHeader, kBlock, " id0A\nDA5BA"),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "0A\nDA5BA", message: "invalid kav beacon id: Invalid hexadecimal format" })))"}),
    test::CaseName{});

INSTANTIATE_TEST_SUITE_P(
    Accepted, WholeLine,
    testing::Values(
        LineCase{"skipped bytes of any value",
                 line_of(kHeader,
                         "\xFF"
                         "123456\x00"
                         "4630.00N\xFF"
                         "00830.00E\n090\xC3"
                         "050A=001000"s,
                         kId),
                 "parsed"},
        LineCase{"text before the altitude tag",
                 line_of(kHeader, "/123456h4630.00N/00830.00E'090/050 some text A=001000", kId),
                 "parsed"},
        LineCase{"id right after the altitude", line_of(kHeader, kBlock, "id06ABCDEF"), "parsed"},
        LineCase{"blanks around tokens", line_of(kHeader, kBlock, "   i id06ABCDEF   x  "),
                 "parsed"},
        LineCase{"CR LF after the id", line_of(kHeader, kBlock, " id06ABCDEF\r\n"), "parsed"},
        LineCase{"trailing bytes after the body", line_of(kHeader, kBlock, " id06ABCDEFxyz"),
                 "parsed"},
        LineCase{"altitude tag only inside a token",
                 line_of(kHeader, "/123456h4630.00N/00830.00E'090/050 gps2x3 xA=001000", kId),
                 "parsed"}), test::CaseName{});

TEST(ParseDriver, SkippedBytesAreNotExamined) {
    const auto beacon =
        parse_ok(line_of(kHeader, "X123456z4630.00NX00830.00E'090X050A=001000", kId));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->time.seconds, 12u * 3600 + 34 * 60 + 56);
    EXPECT_EQ(beacon->ground_speed, 50.0);
}

TEST(ParseDriver, TheLastValidIdWins) {
    const auto beacon = parse_ok(line_of(kHeader, kBlock, " id06ABCDEF x id8D123456"));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->kav_beacon_id.icao_address.value(), 0x123456u);
    EXPECT_EQ(beacon->kav_beacon_id.prefix, KAVIDPrefix::from_byte(0x8D));
}

TEST(ParseDriver, AltitudeIsReadAfterTheFirstTagEvenInsideAToken) {
    const auto beacon = parse_ok(
        line_of(kHeader, "/123456h4630.00N/00830.00E'090/050 FL042 xA=-00012", " id06ABCDEF"));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->gps_altitude, -12.0);
}

TEST(ParseDriver, FieldValuesPassThroughUnchecked) {
    const auto beacon =
        parse_ok(line_of(kHeader, "/000000h9959.99N/nan00.00E'1.5/999/A=1e+003", " id3EABCDEF"));
    ASSERT_TRUE(beacon);
    EXPECT_EQ(beacon->time.seconds, 0u);
    EXPECT_EQ(beacon->latitude, 99.99983333333333);
    EXPECT_TRUE(std::isnan(beacon->longitude));
    EXPECT_EQ(beacon->ground_track, 1.5);
    EXPECT_EQ(beacon->ground_speed, 999.0);
    EXPECT_EQ(beacon->gps_altitude, 1000.0);
    EXPECT_EQ(beacon->kav_beacon_id.prefix.aircraft_type, KAVAircraftType::StaticObstacle);
}

}  // namespace
}  // namespace kav

// Time of day, coordinates, course, speed and altitude: the values read and
// the bytes each field consumes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "case_names.hpp"
#include "parse_motion.hpp"
#include "parse_position.hpp"

namespace kav {
namespace {

std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

struct TimeCase {
    std::string_view rest;
    std::uint32_t seconds;
};

void PrintTo(const TimeCase& c, std::ostream* out) {
    *out << test::quoted(c.rest);
}

class TimeOfDayField : public testing::TestWithParam<TimeCase> {};

TEST_P(TimeOfDayField, ReadsWholeSecondsAndSkipsTheSuffix) {
    const auto& [rest, seconds] = GetParam();
    const auto time = parse_timestamp(rest);
    ASSERT_TRUE(time.ok) << rest << ": " << time.error.message;
    EXPECT_EQ(time.value, (TimeOfDay{seconds, 0}));
    EXPECT_EQ(time.rest, rest.substr(7));
}

INSTANTIATE_TEST_SUITE_P(ParseTimestamp, TimeOfDayField,
                         testing::Values(TimeCase{"235959h4630", 86399}, TimeCase{"000000h", 0},
                                         TimeCase{"123456z", 45296}, TimeCase{"123456/", 45296},
                                         TimeCase{"123456\xFFrest", 45296},
                                         TimeCase{"+71530h", 7 * 3600 + 15 * 60 + 30},
                                         TimeCase{"+7+1+3h", 7 * 3600 + 60 + 3},
                                         TimeCase{"0959+9h", 9 * 3600 + 59 * 60 + 9}),
    test::CaseName{});

struct CoordinateCase {
    std::string_view rest;
    CoordinateKind kind;
    double expected;
};

void PrintTo(const CoordinateCase& c, std::ostream* out) {
    *out << test::quoted(c.rest);
}

class CoordinateField : public testing::TestWithParam<CoordinateCase> {};

TEST_P(CoordinateField, GivesSignedDegreesAndConsumesTheHemisphere) {
    const auto& [rest, kind, expected] = GetParam();
    const auto value = parse_coordinate(rest, kind);
    ASSERT_TRUE(value.ok) << rest << ": " << value.error.message;
    EXPECT_EQ(bits(value.value), bits(expected)) << rest << " gave " << value.value;
    const std::size_t width = kind == CoordinateKind::Latitude ? 8 : 9;
    EXPECT_EQ(value.rest, rest.substr(width));
}

constexpr auto kLat = CoordinateKind::Latitude;
constexpr auto kLon = CoordinateKind::Longitude;

INSTANTIATE_TEST_SUITE_P(ParseCoordinate, CoordinateField,
                         testing::Values(CoordinateCase{"4915.50N/", kLat, 49.25833333333333},
                                         CoordinateCase{"4915.50S/", kLat, -49.25833333333333},
                                         // Only the exact capital letter of the kind negates.
                                         CoordinateCase{"4915.50s", kLat, 49.25833333333333},
                                         CoordinateCase{"4915.50X", kLat, 49.25833333333333},
                                         CoordinateCase{"4915.50W", kLat, 49.25833333333333},
                                         CoordinateCase{"01234.25E'", kLon, 12.570833333333333},
                                         CoordinateCase{"01234.25W'", kLon, -12.570833333333333},
                                         CoordinateCase{"01234.25S", kLon, 12.570833333333333},
                                         CoordinateCase{"9959.99N", kLat, 99.99983333333333},
                                         CoordinateCase{"-115.00N", kLat, -0.75},
                                         CoordinateCase{"18099.00E", kLon, 181.65},
                                         // Zero in the south is negative zero.
                                         CoordinateCase{"0000.00S", kLat, -0.0},
                                         CoordinateCase{"00000.00W", kLon, -0.0},
                                         CoordinateCase{"0000.00N", kLat, 0.0},
                                         CoordinateCase{"+4+1.e1N", kLat, 4.0 + 10.0 / 60.0},
                                         CoordinateCase{"inf00.00E", kLon, HUGE_VAL}),
    test::CaseName{});

TEST(ParseCoordinate, NanDegreesGiveNan) {
    const auto value = parse_coordinate("nan00.00E", CoordinateKind::Longitude);
    ASSERT_TRUE(value.ok);
    EXPECT_TRUE(std::isnan(value.value));
}

// Length comes first: bad digits in a short field still get the length message.
TEST(ParseCoordinate, ChecksEveryLengthBeforeAnyDigit) {
    struct Case {
        std::string_view rest;
        std::string_view message;
    };
    for (const auto& [rest, message] : {
             Case{"", "invalid number of digits for degrees"},
             Case{"x", "invalid number of digits for degrees"},
             Case{"xx", "invalid number of digits for minutes"},
             Case{"xx....", "invalid number of digits for minutes"},
             Case{"xxxxxxx", "no suffix for coordinate found"},
             Case{"4915.5N", "no suffix for coordinate found"},
             Case{"xxxxxxxN", "could not parse degrees"},
             Case{"49xxxxxN", "could not parse minutes"},
         }) {
        const auto value = parse_coordinate(rest, CoordinateKind::Latitude);
        ASSERT_FALSE(value.ok) << rest;
        EXPECT_EQ(value.error.message, message) << rest;
        EXPECT_EQ(value.error.variant, ParseErrorVariant::InvalidLatitude);
        EXPECT_EQ(value.error.input, rest);
    }
    const auto longitude = parse_coordinate("xxxxxxxx", CoordinateKind::Longitude);
    ASSERT_FALSE(longitude.ok);
    EXPECT_EQ(longitude.error.message, "no suffix for coordinate found");
    EXPECT_EQ(longitude.error.variant, ParseErrorVariant::InvalidLongitude);
}

using MotionParser = Parsed<double> (*)(std::string_view) noexcept;

struct MotionCase {
    MotionParser parse;
    std::string_view rest;
    double expected;
    std::string_view left;
};

void PrintTo(const MotionCase& c, std::ostream* out) {
    *out << test::quoted(c.rest);
}

class MotionField : public testing::TestWithParam<MotionCase> {};

TEST_P(MotionField, ReadsTheNumberAsWritten) {
    const auto& [parse, rest, expected, left] = GetParam();
    const auto value = parse(rest);
    ASSERT_TRUE(value.ok) << rest;
    EXPECT_EQ(bits(value.value), bits(expected)) << rest;
    EXPECT_EQ(value.rest, left);
}

INSTANTIATE_TEST_SUITE_P(ParseMotion, MotionField,
                         testing::Values(MotionCase{parse_ground_track, "090/045", 90.0, "/045"},
                                         MotionCase{parse_ground_track, "360", 360.0, ""},
                                         MotionCase{parse_ground_track, "1.5/", 1.5, "/"},
                                         MotionCase{parse_ground_track, "-00", -0.0, ""},
                                         MotionCase{parse_ground_speed, "045/A=", 45.0, "/A="},
                                         MotionCase{parse_ground_speed, "999", 999.0, ""},
                                         MotionCase{parse_gps_altitude, "001000 id", 1000.0, " id"},
                                         MotionCase{parse_gps_altitude, "-00012", -12.0, ""},
                                         MotionCase{parse_gps_altitude, "1e+003", 1000.0, ""},
                                         MotionCase{parse_gps_altitude, "999999", 999999.0, ""},
                                         MotionCase{parse_gps_altitude, "-1e400", -HUGE_VAL, ""},
                                         MotionCase{parse_gps_altitude, "4e-324x", 0x1p-1074,
                                                    "x"}), test::CaseName{});

TEST(ParseMotion, ShortAndMalformedFieldsFailAlike) {
    struct Case {
        MotionParser parse;
        std::string_view rest;
        ParseErrorVariant variant;
        std::string_view message;
    };
    for (const auto& [parse, rest, variant, message] : {
             Case{parse_ground_track, "09", ParseErrorVariant::InvalidGroundTrack,
                  "invalid ground track"},
             Case{parse_ground_track, "09 /045", ParseErrorVariant::InvalidGroundTrack,
                  "invalid ground track"},
             Case{parse_ground_speed, "", ParseErrorVariant::InvalidGroundSpeed,
                  "invalid ground speed"},
             Case{parse_ground_speed, "45A=001000", ParseErrorVariant::InvalidGroundSpeed,
                  "invalid ground speed"},
             Case{parse_gps_altitude, "00100", ParseErrorVariant::InvalidGPSAltitude,
                  "invalid gps altitude"},
             Case{parse_gps_altitude, "+inf  ", ParseErrorVariant::InvalidGPSAltitude,
                  "invalid gps altitude"},
             Case{parse_gps_altitude,
                  "00\xC3\xA9"
                  "00",
                  ParseErrorVariant::InvalidGPSAltitude, "invalid gps altitude"},
         }) {
        const auto value = parse(rest);
        ASSERT_FALSE(value.ok) << rest;
        EXPECT_EQ(value.error.variant, variant) << rest;
        EXPECT_EQ(value.error.message, message) << rest;
        EXPECT_EQ(value.error.input, rest);
    }
}

}  // namespace
}  // namespace kav

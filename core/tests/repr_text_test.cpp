// The repr renderings: shortest round-trip doubles, times of day with leap
// seconds and fractions, and the identifier and beacon structures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "case_names.hpp"
#include "repr_text.hpp"

namespace kav::repr {
namespace {

struct DoubleCase {
    double value;
    std::string_view expected;
};

void PrintTo(const DoubleCase& c, std::ostream* out) {
    *out << test::quoted(c.expected);
}

class AppendDoubleTest : public testing::TestWithParam<DoubleCase> {};

TEST_P(AppendDoubleTest, ShortestTextThatReadsBack) {
    std::string out = "x=";
    append_double(out, GetParam().value);
    EXPECT_EQ(out, "x=" + std::string(GetParam().expected));
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, AppendDoubleTest,
    testing::Values(
        DoubleCase{0.0, "0.0"}, DoubleCase{-0.0, "-0.0"}, DoubleCase{-8.25, "-8.25"},
        DoubleCase{1200.0, "1200.0"}, DoubleCase{0.1, "0.1"}, DoubleCase{48.1234, "48.1234"},
        // The edges of plain decimal: 1e-4 in, below it and 1e16 out.
        DoubleCase{0.0001, "0.0001"}, DoubleCase{0.00012, "0.00012"}, DoubleCase{1e-5, "1e-5"},
        DoubleCase{-1.5e-5, "-1.5e-5"}, DoubleCase{9999999999999998.0, "9999999999999998.0"},
        DoubleCase{1e16, "1e16"}, DoubleCase{1.25e17, "1.25e17"}, DoubleCase{5e-324, "5e-324"},
        DoubleCase{1.7976931348623157e308, "1.7976931348623157e308"},
        DoubleCase{123456789012345.6, "123456789012345.6"}, DoubleCase{std::nan(""), "NaN"},
        DoubleCase{kInf, "inf"}, DoubleCase{-kInf, "-inf"}), test::CaseName{});

struct TimeCase {
    TimeOfDay time;
    std::string_view expected;
};

void PrintTo(const TimeCase& c, std::ostream* out) {
    *out << test::quoted(c.expected);
}

class AppendTimeTest : public testing::TestWithParam<TimeCase> {};

TEST_P(AppendTimeTest, ClockTextWithShortestExactFraction) {
    std::string out;
    append_time_of_day(out, GetParam().time);
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Times, AppendTimeTest,
                         testing::Values(TimeCase{{0, 0}, "00:00:00"},
                                         TimeCase{{45296, 0}, "12:34:56"},
                                         TimeCase{{86399, 0}, "23:59:59"},
                                         TimeCase{{45296, 500'000'000}, "12:34:56.500"},
                                         TimeCase{{1, 120'000}, "00:00:01.000120"},
                                         TimeCase{{45296, 1'000}, "12:34:56.000001"},
                                         TimeCase{{45296, 1}, "12:34:56.000000001"},
                                         // A leap second: second 59 with a whole second more.
                                         TimeCase{{86399, 1'000'000'000}, "23:59:60"},
                                         TimeCase{{86399, 1'250'000'000}, "23:59:60.250"}),
    test::CaseName{});

TEST(TimeOfDayTest, LeapSecondSplitsOffItsFraction) {
    const struct {
        TimeOfDay time;
        bool leap;
        std::uint32_t fraction;
    } cases[] = {{{59, 0}, false, 0},
                 {{59, 999'999'999}, false, 999'999'999},
                 {{59, 1'000'000'000}, true, 0},
                 {{59, 1'999'999'999}, true, 999'999'999}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.time.leap_second(), c.leap) << c.time.nanoseconds;
        EXPECT_EQ(c.time.fraction_nanoseconds(), c.fraction) << c.time.nanoseconds;
    }
}

const KAVBeaconID kBeaconID{
    KAVIDPrefix{KAVAircraftType::Glider, KAVAddressType::FLARM, false, true},
    ICAOAddress::new_(14525882).value()};

TEST(ReprTextTest, Identifiers) {
    EXPECT_EQ(repr_text(kBeaconID.icao_address), "PyICAOAddress(14525882)");
    EXPECT_EQ(repr_text(kBeaconID.prefix),
              "PyKAVIDPrefix { aircraft_type: Glider, address_type: FLARM, no_track: false, "
              "stealth_mode: true }");
    EXPECT_EQ(repr_text(kBeaconID), "PyKAVBeaconID { prefix: " + repr_text(kBeaconID.prefix) +
                                        ", icao_address: PyICAOAddress(14525882) }");
}

TEST(ReprTextTest, BeaconListsEveryFieldInOrderWithTextsEscaped) {
    const AircraftBeacon beacon{"FLR\"1",   "qAS",  "R\n",    KAVAPRSProtocol::KAFLR,
                                {45296, 0}, 48.5,   -0.0,     90.0,
                                1e-5,       1200.0, kBeaconID};
    EXPECT_EQ(repr_text(beacon),
              "PyAircraftBeacon { callsign: \"FLR\\\"1\", q_construct: \"qAS\", receiver: "
              "\"R\\n\", kav_aprs_protocol: KAFLR, time: 12:34:56, latitude: 48.5, longitude: "
              "-0.0, ground_track: 90.0, ground_speed: 1e-5, gps_altitude: 1200.0, "
              "kav_beacon_id: " +
                  repr_text(kBeaconID) + " }");
}

}  // namespace
}  // namespace kav::repr

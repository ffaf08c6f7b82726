// The parse function of the module builds its record from the view parse, so
// the two parses must agree on every line, and a view's texts must be parts
// of the line itself.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "parse.hpp"

namespace kav {
namespace {

constexpr std::string_view kLines[] = {
    "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF",
    ">KAVSKY,,:/000000h0000.00S/00000.00W'000/000/A=000000 id+5123456",
    "A-callsign-longer-than-sixteen>KAADSB,WIDE1-1,qAS,Station-with-a-long-name:"
    "/235959z9959.99N/17959.99E'359/999/A=-00012 +198fpm id3EDDA5BA",
    "Z\xc3\xa9>KAFLR,q\xe2\x82\xac,R:/120000h4915.50N/01234.25E'1.5/045 x A=1e+003id05+12345",
};

class ParseViewTest : public testing::TestWithParam<std::string_view> {};

TEST_P(ParseViewTest, AgreesWithTheRecordParseAndPointsIntoTheLine) {
    const std::string line(GetParam());
    const auto view = parse_aircraft_beacon_view(line);
    const auto record = parse_aircraft_beacon(line);
    ASSERT_TRUE(view.ok());
    ASSERT_TRUE(record.ok());
    const AircraftBeacon copied = to_record(view.value());
    const AircraftBeacon& parsed = record.value();
    EXPECT_EQ(copied.callsign, parsed.callsign);
    EXPECT_EQ(copied.q_construct, parsed.q_construct);
    EXPECT_EQ(copied.receiver, parsed.receiver);
    EXPECT_EQ(copied.kav_aprs_protocol, parsed.kav_aprs_protocol);
    EXPECT_EQ(copied.time, parsed.time);
    EXPECT_EQ(copied.latitude, parsed.latitude);
    EXPECT_EQ(copied.longitude, parsed.longitude);
    EXPECT_EQ(copied.ground_track, parsed.ground_track);
    EXPECT_EQ(copied.ground_speed, parsed.ground_speed);
    EXPECT_EQ(copied.gps_altitude, parsed.gps_altitude);
    EXPECT_EQ(copied.kav_beacon_id, parsed.kav_beacon_id);
    for (const std::string_view text :
         {view.value().callsign, view.value().q_construct, view.value().receiver}) {
        EXPECT_GE(text.data(), line.data());
        EXPECT_LE(text.data() + text.size(), line.data() + line.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, ParseViewTest, testing::ValuesIn(kLines));

TEST(ParseViewTest, FailsWithTheSameErrorAsTheRecordParse) {
    for (const std::string_view line :
         {std::string_view(), std::string_view("X>KAFLR,qAS,R:/123456h"),
          std::string_view("X>KAFLR,qAS,R:/123456h4630.00N/00830.00E'090/050/A=001000 idle")}) {
        const auto view = parse_aircraft_beacon_view(line);
        const auto record = parse_aircraft_beacon(line);
        ASSERT_FALSE(view.ok());
        ASSERT_FALSE(record.ok());
        EXPECT_EQ(debug_text(view.error()), debug_text(record.error())) << line;
    }
}

}  // namespace
}  // namespace kav

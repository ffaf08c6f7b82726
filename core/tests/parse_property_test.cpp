// Damaged lines: whatever the bytes, a parse ends in a record or an error
// that holds up, and never reads outside the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "aprs_types.hpp"
#include "parse.hpp"
#include "utf8.hpp"

namespace kav {
namespace {

const std::vector<std::string> kValidLines = {
    "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000 id06ABCDEF",
    "KFL3E1234>KAVSKY,qAR,Mountain2:/235959h4915.50S/01234.25W^360/123/A=012345 !W12! "
    "id8D3E1234 -019fpm +0.0rot 5.5dB 3e -4.3kHz gps2x3",
    "KAD4B0E3A>KAADSB,qAS,Z\xC3\xBCrich:/000000h0000.00N\\00000.00E^000/000/A=-00012 "
    "+198fpm FL042.15 id254B0E3A 11.0dB 0e",
};

// The bytes that tend to upset a parser of this format.
constexpr std::string_view kInterestingBytes =
    "> ,:/AhNSEWid=+-.e0123456789\x80\xC3\xA9\xFF\xE2\xF0";
const std::vector<std::string> kInsertions = {" ",
                                              "  ",
                                              "\xC3\xA9",
                                              "\xE2\x82\xAC",
                                              "\xF0\x9F\x9B\xA9",
                                              "\xFF",
                                              "\xC0\xAF",
                                              "\xED\xA0\x80",
                                              "A=",
                                              "id",
                                              "\r\n",
                                              std::string(1, '\0')};

// What every outcome must satisfy, for any input bytes. Returns the outcome's
// error text, or "" for a record.
std::string check_outcome(const std::string& line) {
    const auto result = parse_aircraft_beacon(line);
    SCOPED_TRACE(testing::PrintToString(line));
    if (result.ok()) {
        const AircraftBeacon& beacon = result.value();
        EXPECT_EQ(line.substr(0, line.find('>')), beacon.callsign);
        EXPECT_TRUE(is_valid_utf8(beacon.q_construct));
        EXPECT_TRUE(is_valid_utf8(beacon.receiver));
        EXPECT_LT(beacon.time.seconds, 86400u);
        EXPECT_EQ(beacon.time.nanoseconds, 0u);
        return "";
    }
    const std::string text = debug_text(result.error());
    EXPECT_TRUE(is_valid_utf8(text));
    const auto* kind = std::get_if<ParseErrorKind>(&result.error().value);
    if (kind == nullptr) return text;
    EXPECT_NE(kind->variant, ParseErrorVariant::MissingSeparator);
    // Contexts quote bytes of the line itself. Fields are cut by bytes and
    // may split a character, so only an ASCII line is sure to contain them.
    const auto* context = std::get_if<APRSParseContext>(&kind->payload);
    const std::string& input = context ? context->input : std::get<std::string>(kind->payload);
    EXPECT_TRUE(is_valid_utf8(input));
    if (std::all_of(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; })) {
        EXPECT_NE(line.find(input), std::string::npos) << input;
    }
    return text;
}

TEST(ParseProperty, EveryProperPrefixOfAValidLineFails) {
    for (const auto& line : kValidLines) {
        ASSERT_TRUE(parse_aircraft_beacon(line).ok()) << line;
        // Cut past the identifier, the line only loses ignored tokens.
        const std::size_t id_end = line.find(" id") + 11;
        for (std::size_t length = 0; length < id_end; ++length) {
            const std::string prefix = line.substr(0, length);
            EXPECT_FALSE(parse_aircraft_beacon(prefix).ok()) << prefix;
            check_outcome(prefix);
        }
    }
}

TEST(ParseProperty, RandomDamageGivesARecordOrASoundError) {
    std::mt19937 random(20240607);  // fixed seed: failures must reproduce
    const auto pick = [&random](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    constexpr int kMutationsPerLine = 4000;
    std::set<std::string> outcome_kinds;  // the text up to the first "(": a variant
    for (const auto& valid : kValidLines) {
        for (int round = 0; round < kMutationsPerLine; ++round) {
            std::string line = valid;
            const std::size_t edits = 1 + pick(3);
            for (std::size_t e = 0; e < edits; ++e) {
                const std::size_t at = pick(line.size() + 1);
                switch (pick(5)) {
                    case 0:  // flip one bit
                        if (at < line.size())
                            line[at] = static_cast<char>(line[at] ^ (1 << pick(8)));
                        break;
                    case 1:  // replace with an interesting byte
                        if (at < line.size())
                            line[at] = kInterestingBytes[pick(kInterestingBytes.size())];
                        break;
                    case 2:
                        line.insert(at, kInsertions[pick(kInsertions.size())]);
                        break;
                    case 3:
                        line.erase(at, 1 + pick(4));
                        break;
                    default:
                        line.resize(at);
                        break;
                }
            }
            const std::string outcome = check_outcome(line);
            outcome_kinds.insert(outcome.substr(0, outcome.find('(', outcome.find('(') + 1)));
        }
    }
    // The damage must reach every part of the line, or the test proves little:
    // records, the missing identifier and all thirteen variants the parser makes.
    EXPECT_TRUE(outcome_kinds.count(""));
    EXPECT_EQ(outcome_kinds.size(), 15u) << testing::PrintToString(outcome_kinds);
}

}  // namespace
}  // namespace kav

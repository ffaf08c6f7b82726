// The `id` token: prefix flags and categories, address, and every rejection.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "case_names.hpp"
#include "parse_beacon_id.hpp"

namespace kav {
namespace {

struct IdCase {
    std::string_view token;
    bool stealth_mode;
    bool no_track;
    KAVAircraftType aircraft_type;
    KAVAddressType address_type;
    std::uint32_t address;
};

void PrintTo(const IdCase& c, std::ostream* out) {
    *out << test::quoted(c.token);
}

class BeaconIdToken : public testing::TestWithParam<IdCase> {};

TEST_P(BeaconIdToken, DecodesPrefixAndAddress) {
    const auto& c = GetParam();
    const auto id = parse_beacon_id_token(c.token);
    ASSERT_TRUE(id.ok()) << c.token << ": " << debug_text(id.error());
    const KAVIDPrefix expected{c.aircraft_type, c.address_type, c.no_track, c.stealth_mode};
    EXPECT_EQ(id.value().prefix, expected) << c.token;
    EXPECT_EQ(id.value().icao_address.value(), c.address) << c.token;
}

using T = KAVAircraftType;
using A = KAVAddressType;

INSTANTIATE_TEST_SUITE_P(
    ParseBeaconIdToken, BeaconIdToken,
    testing::Values(IdCase{"id0ADDA5BA", false, false, T::TowPlane, A::FLARM, 0xDDA5BA},
                    IdCase{"id06DDA5BA", false, false, T::Glider, A::FLARM, 0xDDA5BA},
                    IdCase{"id05DDA5BA", false, false, T::Glider, A::ICAO, 0xDDA5BA},
                    IdCase{"idC6ABCDEF", true, true, T::Glider, A::FLARM, 0xABCDEF},
                    IdCase{"id46ABCDEF", false, true, T::Glider, A::FLARM, 0xABCDEF},
                    IdCase{"id8DABCDEF", true, false, T::Helicopter, A::ICAO, 0xABCDEF},
                    IdCase{"id3ADDA5BA", false, false, T::Reserved, A::FLARM, 0xDDA5BA},
                    IdCase{"id3EDDA5BA", false, false, T::StaticObstacle, A::FLARM, 0xDDA5BA},
                    IdCase{"idFF000000", true, true, T::StaticObstacle, A::KAVTracker, 0},
                    IdCase{"id00FFFFFF", false, false, T::Reserved, A::Unknown, 0xFFFFFF},
                    IdCase{"id0addA5ba", false, false, T::TowPlane, A::FLARM, 0xDDA5BA},
                    IdCase{"id+5123456", false, false, T::Glider, A::ICAO, 0x123456},
                    IdCase{"id05+12345", false, false, T::Glider, A::ICAO, 0x012345},
                    IdCase{"id0ADDA5BAxyz", false, false, T::TowPlane, A::FLARM, 0xDDA5BA},
                    IdCase{"id0ADDA5BA\xFF\r\n", false, false, T::TowPlane, A::FLARM, 0xDDA5BA}),
    test::CaseName{});

struct RejectedCase {
    std::string_view token;
    std::string_view input;
    std::string_view message;
};

void PrintTo(const RejectedCase& c, std::ostream* out) {
    *out << test::quoted(c.token);
}

class RejectedIdToken : public testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedIdToken, NamesTheBodyAndTheReason) {
    const auto& c = GetParam();
    const auto id = parse_beacon_id_token(c.token);
    ASSERT_FALSE(id.ok()) << c.token;
    const auto expected = ParseErrorKind::with_context(
        ParseErrorVariant::InvalidKAVBeaconId,
        APRSParseContext{std::string(c.input), std::string(c.message)});
    EXPECT_EQ(debug_text(id.error()), debug_text(expected));
}

constexpr std::string_view kHex = "invalid kav beacon id: Invalid hexadecimal format";

INSTANTIATE_TEST_SUITE_P(
    ParseBeaconIdToken, RejectedIdToken,
    testing::Values(
        RejectedCase{"id", "id", "invalid kav beacon id format"},
        RejectedCase{"idle", "idle", "invalid kav beacon id format"},
        RejectedCase{"id0ADDA5B", "id0ADDA5B", "invalid kav beacon id format"},
        RejectedCase{"identity12", "entity12", kHex}, RejectedCase{"id0GDDA5BA", "0GDDA5BA", kHex},
        // Bytes that sit next to the digits and letters in the code table.
        RejectedCase{"id0/DDA5BA", "0/DDA5BA", kHex}, RejectedCase{"id0:DDA5BA", "0:DDA5BA", kHex},
        RejectedCase{"id0@DDA5BA", "0@DDA5BA", kHex}, RejectedCase{"id0`DDA5BA", "0`DDA5BA", kHex},
        RejectedCase{"id0ADDA5Bg", "0ADDA5Bg", kHex},
        RejectedCase{"id0A\x10\x11"
                     "A5BA",
                     "0A\x10\x11"
                     "A5BA",
                     kHex},
        RejectedCase{std::string_view("id0A\0DA5BA", 10), std::string_view("0A\0DA5BA", 8), kHex},
        RejectedCase{"id0ADDX5BA", "0ADDX5BA", kHex}, RejectedCase{"id-1DDA5BA", "-1DDA5BA", kHex},
        RejectedCase{"id0A-DA5BA", "0A-DA5BA", kHex}, RejectedCase{"id++123456", "++123456", kHex},
        RejectedCase{"id 0ADDA5B", " 0ADDA5B", kHex},
        RejectedCase{"id0ADDA5\xC3\xA9", "0ADDA5\xC3\xA9", kHex},
        RejectedCase{"id0ADDA5B\xC3\xA9", "", "invalid kav beacon id: Invalid beacon format: "},
        RejectedCase{"id\xE2\x82\xAC"
                     "DDA5B",
                     "\xE2\x82\xAC"
                     "DDA5B",
                     "invalid kav beacon id: character split across prefix and address"},
        RejectedCase{"id0\xC3\xA9"
                     "DA5BA",
                     "0\xC3\xA9"
                     "DA5BA",
                     "invalid kav beacon id: character split across prefix and address"},
        // A whole character on either side is plain bad hexadecimal.
        RejectedCase{"id\xC3\xA9"
                     "DDA5BA",
                     "\xC3\xA9"
                     "DDA5BA",
                     kHex},
        RejectedCase{"id0A\xC3\xA9"
                     "A5BA",
                     "0A\xC3\xA9"
                     "A5BA",
                     kHex}), test::CaseName{});

// The usual eight-digit body is decoded on a shortcut; it must agree with the
// body decoder of the model for any digits in either case.
TEST(ParseBeaconIdToken, PlainBodiesAgreeWithTheBodyDecoder) {
    constexpr std::string_view kHexDigits = "0123456789abcdefABCDEF";
    std::mt19937 random(11);
    std::uniform_int_distribution<std::size_t> digit(0, kHexDigits.size() - 1);
    for (int round = 0; round < 5000; ++round) {
        std::string body;
        for (int i = 0; i < 8; ++i) body += kHexDigits[digit(random)];
        const auto expected = parse_beacon_id_body(body);
        const auto id = parse_beacon_id_token("id" + body);
        ASSERT_TRUE(expected.ok() && id.ok()) << body;
        ASSERT_EQ(id.value(), expected.value()) << body;
    }
}

}  // namespace
}  // namespace kav

// Identifiers, the hexadecimal rule, prefix byte decoding and identifier error texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "aprs_types.hpp"
#include "case_names.hpp"

namespace kav {
namespace {

constexpr std::string_view kInvalidHex = "Invalid hexadecimal format";

struct HexCase {
    std::string_view text;
    std::optional<std::uint32_t> expected;  // nullopt: the rule is broken
};

void PrintTo(const HexCase& c, std::ostream* out) {
    *out << test::quoted(c.text);
}

// Runs `parse` on the case's text; a failed parse must leave the output alone.
template <class T>
void expect_hex_rule(bool (*parse)(std::string_view, T&), const HexCase& c) {
    constexpr T kUntouched = static_cast<T>(0xA5A5A5A5u);
    T out = kUntouched;
    const bool ok = parse(c.text, out);
    ASSERT_EQ(ok, c.expected.has_value()) << "text: \"" << c.text << '"';
    EXPECT_EQ(out, ok ? *c.expected : kUntouched);
}

class HexU32Test : public testing::TestWithParam<HexCase> {};

TEST_P(HexU32Test, FollowsTheHexadecimalRule) {
    expect_hex_rule(parse_hex_u32, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HexU32Test,
    testing::Values(
        HexCase{"dda5ba", 0xDDA5BA}, HexCase{"DDA5BA", 0xDDA5BA}, HexCase{"dDa5Ba", 0xDDA5BA},
        HexCase{"+12345", 0x12345}, HexCase{"0", 0}, HexCase{"FFFFFFFF", 0xFFFFFFFF},
        HexCase{"00000000FFFFFFFF", 0xFFFFFFFF},  // leading zeros are no overflow
        HexCase{"100000000", std::nullopt},       // 33 bits
        HexCase{"", std::nullopt}, HexCase{"+", std::nullopt}, HexCase{"++1", std::nullopt},
        HexCase{"-1", std::nullopt}, HexCase{" 1", std::nullopt}, HexCase{"1 ", std::nullopt},
        HexCase{"0x1", std::nullopt}, HexCase{"1+", std::nullopt}, HexCase{"g", std::nullopt},
        HexCase{std::string_view("1\0", 2), std::nullopt}, HexCase{"\xC3\xA9", std::nullopt}),
    test::CaseName{});

class HexU8Test : public testing::TestWithParam<HexCase> {};

TEST_P(HexU8Test, FollowsTheHexadecimalRule) {
    expect_hex_rule(parse_hex_u8, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Texts, HexU8Test,
                         testing::Values(HexCase{"0a", 0x0A}, HexCase{"0A", 0x0A},
                                         HexCase{"+A", 0x0A}, HexCase{"ff", 0xFF},
                                         HexCase{"0000001", 0x01}, HexCase{"100", std::nullopt},
                                         HexCase{"", std::nullopt}, HexCase{"+", std::nullopt},
                                         HexCase{"0g", std::nullopt}, HexCase{"-1", std::nullopt}),
    test::CaseName{});

TEST(ICAOAddressTest, NewAcceptsExactlyTheTwentyFourBitRange) {
    ASSERT_TRUE(ICAOAddress::new_(0));
    EXPECT_EQ(ICAOAddress::new_(0).value().value(), 0u);
    ASSERT_TRUE(ICAOAddress::new_(0xFFFFFF));
    EXPECT_EQ(ICAOAddress::new_(0xFFFFFF).value().value(), 0xFFFFFFu);
    const auto too_big = ICAOAddress::new_(0x1000000);
    ASSERT_FALSE(too_big);
    EXPECT_EQ(too_big.error(), ICAOAddressError::exceeds_limit(0x1000000));
}

// Each case pairs a message() result with the text users must see.
struct MessageCase {
    std::string message;
    std::string_view expected;
};

void PrintTo(const MessageCase& c, std::ostream* out) {
    *out << test::quoted(c.expected);
}

class ErrorMessageTest : public testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessageTest, IsExactText) {
    EXPECT_EQ(GetParam().message, GetParam().expected);
}

constexpr std::string_view kLimitMessage =
    "Value 0x1000000 (16777216) exceeds 24-bit ICAO address limit (0xFFFFFF)";

INSTANTIATE_TEST_SUITE_P(
    AddressErrors, ErrorMessageTest,
    testing::Values(
        MessageCase{ICAOAddressError::invalid_hex_format().message(), kInvalidHex},
        MessageCase{ICAOAddressError::exceeds_limit(0x1000000).message(), kLimitMessage},
        MessageCase{ICAOAddressError::exceeds_limit(0xFFFFFFFF).message(),
                    "Value 0xFFFFFFFF (4294967295) exceeds 24-bit ICAO address limit (0xFFFFFF)"},
        MessageCase{ICAOAddressError::exceeds_limit(0xABCDEF12).message(),
                    "Value 0xABCDEF12 (2882400018) exceeds 24-bit ICAO address limit (0xFFFFFF)"},
        MessageCase{KAVIDPrefixError{}.message(), kInvalidHex}), test::CaseName{});

// A beacon ID error adds nothing to the text of its cause.
INSTANTIATE_TEST_SUITE_P(
    BeaconIDErrors, ErrorMessageTest,
    testing::Values(MessageCase{KAVBeaconIDError{KAVIDPrefixError{}}.message(), kInvalidHex},
                    MessageCase{KAVBeaconIDError{ICAOAddressError::invalid_hex_format()}.message(),
                                kInvalidHex},
                    MessageCase{
                        KAVBeaconIDError{ICAOAddressError::exceeds_limit(0x1000000)}.message(),
                        kLimitMessage},
                    MessageCase{KAVBeaconIDError{KAVBeaconIDError::InvalidFormat{""}}.message(),
                                "Invalid beacon format: "},
                    MessageCase{KAVBeaconIDError{KAVBeaconIDError::InvalidFormat{"abc"}}.message(),
                                "Invalid beacon format: abc"}), test::CaseName{});

TEST(ICAOAddressTest, FromHexReadsTheRuleThenChecksTheLimit) {
    EXPECT_EQ(ICAOAddress::from_hex("dda5ba").value(), ICAOAddress::from_hex("DDA5BA").value());
    const auto plus_five = ICAOAddress::from_hex("+FFFFF");
    ASSERT_TRUE(plus_five);
    EXPECT_EQ(plus_five.value().value(), 0xFFFFFu);

    for (const std::string_view bad : {"", "+", "-1", " 123456", "0x123456", "100000000"}) {
        const auto result = ICAOAddress::from_hex(bad);
        ASSERT_FALSE(result) << bad;
        EXPECT_EQ(result.error().message(), kInvalidHex) << bad;
    }
    const auto seven_digits = ICAOAddress::from_hex("1000000");
    ASSERT_FALSE(seven_digits);
    EXPECT_EQ(seven_digits.error(), ICAOAddressError::exceeds_limit(0x1000000));
}

TEST(PrefixByteFromHexTest, ReportsInvalidHexFormat) {
    EXPECT_EQ(prefix_byte_from_hex("c6").value(), 0xC6);
    EXPECT_EQ(prefix_byte_from_hex("+5").value(), 0x05);
    for (const std::string_view bad : {"", "0g", "+", "-5"}) {
        const auto result = prefix_byte_from_hex(bad);
        ASSERT_FALSE(result) << bad;
        EXPECT_EQ(result.error().message(), kInvalidHex);
    }
}

struct PrefixCase {
    std::uint8_t byte;
    KAVIDPrefix expected;
};

void PrintTo(const PrefixCase& c, std::ostream* out) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(c.byte));
    *out << text;
}

class PrefixFromByteTest : public testing::TestWithParam<PrefixCase> {};

TEST_P(PrefixFromByteTest, DecodesEveryField) {
    EXPECT_EQ(KAVIDPrefix::from_byte(GetParam().byte), GetParam().expected);
}

using AT = KAVAircraftType;
using AddrT = KAVAddressType;
INSTANTIATE_TEST_SUITE_P(
    Bytes, PrefixFromByteTest,
    testing::Values(PrefixCase{0x0A, {AT::TowPlane, AddrT::FLARM, false, false}},
                    PrefixCase{0x06, {AT::Glider, AddrT::FLARM, false, false}},
                    PrefixCase{0x05, {AT::Glider, AddrT::ICAO, false, false}},
                    PrefixCase{0xC6, {AT::Glider, AddrT::FLARM, true, true}},
                    PrefixCase{0x46, {AT::Glider, AddrT::FLARM, true, false}},
                    PrefixCase{0x8D, {AT::Helicopter, AddrT::ICAO, false, true}},
                    PrefixCase{0x00, {AT::Reserved, AddrT::Unknown, false, false}},
                    PrefixCase{0x3A, {AT::Reserved, AddrT::FLARM, false, false}},  // code 14
                    PrefixCase{0x3E, {AT::StaticObstacle, AddrT::FLARM, false, false}},
                    PrefixCase{0x37, {AT::UAVs, AddrT::KAVTracker, false, false}},
                    PrefixCase{0xFF, {AT::StaticObstacle, AddrT::KAVTracker, true, true}}),
    test::CaseName{});

TEST(PrefixFromByteTest, EveryByteYieldsAMemberAndCodeFourteenNever) {
    for (unsigned byte = 0; byte <= 0xFF; ++byte) {
        const KAVIDPrefix prefix = KAVIDPrefix::from_byte(static_cast<std::uint8_t>(byte));
        const unsigned type_code = (byte >> 2) & 0x0F;
        EXPECT_NE(code(prefix.aircraft_type), 14) << byte;
        if (type_code != 14) {
            EXPECT_EQ(code(prefix.aircraft_type), type_code) << byte;
        }
        EXPECT_EQ(code(prefix.address_type), byte & 0x03) << byte;
    }
}

TEST(IdentifierEqualityTest, ComparesEveryField) {
    const KAVIDPrefix prefix{AT::Glider, AddrT::FLARM, false, false};
    KAVIDPrefix stealthy = prefix;
    stealthy.stealth_mode = true;
    EXPECT_NE(prefix, stealthy);

    const ICAOAddress address = ICAOAddress::new_(0xDDA5BA).value();
    EXPECT_EQ((KAVBeaconID{prefix, address}), (KAVBeaconID{prefix, address}));
    EXPECT_NE((KAVBeaconID{prefix, address}), (KAVBeaconID{stealthy, address}));
}

}  // namespace
}  // namespace kav

// The eight-character body of an `id` token.
#include <gtest/gtest.h>

#include "aprs_types.hpp"
#include "case_names.hpp"

namespace kav {
namespace {

struct AcceptedBody {
    std::string_view body;
    KAVIDPrefix prefix;
    std::uint32_t address;
};

void PrintTo(const AcceptedBody& c, std::ostream* out) {
    *out << test::quoted(c.body);
}

class AcceptedBodyTest : public testing::TestWithParam<AcceptedBody> {};

TEST_P(AcceptedBodyTest, DecodesPrefixAndAddress) {
    const AcceptedBody& c = GetParam();
    const auto result = parse_beacon_id_body(c.body);
    ASSERT_TRUE(result) << c.body << ": " << result.error().message();
    EXPECT_EQ(result.value().prefix, c.prefix);
    EXPECT_EQ(result.value().icao_address.value(), c.address);
}

using AT = KAVAircraftType;
using AddrT = KAVAddressType;
INSTANTIATE_TEST_SUITE_P(
    Bodies, AcceptedBodyTest,
    testing::Values(AcceptedBody{"0ADDA5BA", {AT::TowPlane, AddrT::FLARM, false, false}, 0xDDA5BA},
                    AcceptedBody{"0addA5ba", {AT::TowPlane, AddrT::FLARM, false, false}, 0xDDA5BA},
                    AcceptedBody{"C6ABCDEF", {AT::Glider, AddrT::FLARM, true, true}, 0xABCDEF},
                    AcceptedBody{"3ADDA5BA", {AT::Reserved, AddrT::FLARM, false, false}, 0xDDA5BA},
                    AcceptedBody{"+5123456", {AT::Glider, AddrT::ICAO, false, false}, 0x123456},
                    AcceptedBody{"05+12345", {AT::Glider, AddrT::ICAO, false, false}, 0x012345},
                    AcceptedBody{
                        "00FFFFFF", {AT::Reserved, AddrT::Unknown, false, false}, 0xFFFFFF}),
    test::CaseName{});

struct RejectedBody {
    std::string_view body;
    KAVBeaconIDError expected;
};

void PrintTo(const RejectedBody& c, std::ostream* out) {
    *out << test::quoted(c.body);
}

class RejectedBodyTest : public testing::TestWithParam<RejectedBody> {};

TEST_P(RejectedBodyTest, ReportsTheCause) {
    const auto result = parse_beacon_id_body(GetParam().body);
    ASSERT_FALSE(result) << GetParam().body;
    EXPECT_EQ(result.error(), GetParam().expected);
}

const KAVBeaconIDError kBadPrefix{KAVIDPrefixError{}};
const KAVBeaconIDError kBadAddress{ICAOAddressError::invalid_hex_format()};

INSTANTIATE_TEST_SUITE_P(
    Bodies, RejectedBodyTest,
    testing::Values(RejectedBody{"", {KAVBeaconIDError::InvalidFormat{""}}},
                    RejectedBody{"0ADDA5B", {KAVBeaconIDError::InvalidFormat{"0ADDA5B"}}},
                    RejectedBody{"0ADDA5BA0", {KAVBeaconIDError::InvalidFormat{"0ADDA5BA0"}}},
                    // Owned texts stay valid UTF-8 even when the candidate bytes are not.
                    RejectedBody{"\xFF", {KAVBeaconIDError::InvalidFormat{"\xEF\xBF\xBD"}}},
                    RejectedBody{"0GDDA5BA", kBadPrefix}, RejectedBody{"-1DDA5BA", kBadPrefix},
                    RejectedBody{"entity12", kBadPrefix}, RejectedBody{"++DDA5BA", kBadPrefix},
                    RejectedBody{"0ADDX5BA", kBadAddress}, RejectedBody{"0A-DA5BA", kBadAddress},
                    RejectedBody{"0A DA5BA", kBadAddress},
                    // Valid UTF-8 whose two-byte character straddles prefix and address.
                    RejectedBody{"0\xC3\xA9"
                                 "12345",
                                 kBadPrefix},
                    // A three-byte character straddling the border, prefix otherwise fine.
                    RejectedBody{"+\xE2\x82\xAC"
                                 "2345",
                                 kBadPrefix},
                    // A multi-byte character wholly inside the address.
                    RejectedBody{"0A\xC3\xA9"
                                 "1234",
                                 kBadAddress}), test::CaseName{});

}  // namespace
}  // namespace kav

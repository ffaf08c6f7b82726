// The driver reads plain id tokens (eight hex digits) on a shortcut and every
// other form through the full token parser. Whatever the mix and order of the
// two, the last valid token must win and a bad one must still reject the line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "case_names.hpp"
#include "parse.hpp"

namespace kav {
namespace {

constexpr std::string_view kLineStart =
    "X1>KAFLR,qAS,RX1:/123456h4630.00N/00830.00E'090/050/A=001000";

struct IdMix {
    std::string_view tokens;
    std::uint8_t prefix;
    std::uint32_t address;
};

void PrintTo(const IdMix& c, std::ostream* out) {
    *out << test::quoted(c.tokens);
}

class IdFormsTest : public testing::TestWithParam<IdMix> {};

TEST_P(IdFormsTest, TheLastValidTokenWins) {
    const IdMix& mix = GetParam();
    const auto parsed = parse_aircraft_beacon(std::string(kLineStart) + std::string(mix.tokens));
    ASSERT_TRUE(parsed.ok()) << mix.tokens;
    EXPECT_EQ(parsed.value().kav_beacon_id.prefix, KAVIDPrefix::from_byte(mix.prefix));
    EXPECT_EQ(parsed.value().kav_beacon_id.icao_address.value(), mix.address);
}

INSTANTIATE_TEST_SUITE_P(PlainAndOtherForms, IdFormsTest,
                         testing::Values(IdMix{" id06ABCDEF id+5123456", 0x05, 0x123456},
                                         IdMix{" id+5123456 id06ABCDEF", 0x06, 0xABCDEF},
                                         IdMix{" id05+12345 x id8D123456", 0x8D, 0x123456},
                                         IdMix{" id8D123456 id05+12345", 0x05, 0x012345},
                                         IdMix{" id06abcdefxyz", 0x06, 0xABCDEF},
                                         IdMix{" id3ADDA5BA", 0x3A, 0xDDA5BA},
                                         IdMix{"id06ABCDEF +198fpm 0e", 0x06, 0xABCDEF}),
    test::CaseName{});

TEST(IdFormsTest, ABadTokenAfterGoodOnesOfEitherFormRejectsTheLine) {
    for (const std::string_view tokens :
         {" id06ABCDEF idle", " id+5123456 idle", " id06ABCDEF id+5123456 id0GDDA5BA"}) {
        EXPECT_FALSE(parse_aircraft_beacon(std::string(kLineStart) + std::string(tokens)).ok())
            << tokens;
    }
}

}  // namespace
}  // namespace kav

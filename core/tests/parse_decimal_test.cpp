// The decimal field grammar and its correctly rounded conversion.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "case_names.hpp"
#include "parse_decimal.hpp"

namespace kav {
namespace {

std::optional<double> decimal(std::string_view field) {
    double value = 0.0;
    if (!parse_decimal(field, value)) return std::nullopt;
    return value;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMinSubnormal = std::numeric_limits<double>::denorm_min();

// Bit patterns, so that -0.0 differs from 0.0 and a rounding error of one
// unit in the last place shows.
std::uint64_t bits(double value) {
    return std::bit_cast<std::uint64_t>(value);
}

struct Accepted {
    std::string_view field;
    double expected;
};

void PrintTo(const Accepted& c, std::ostream* out) {
    *out << test::quoted(c.field);
}

class AcceptedDecimal : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedDecimal, GivesTheNearestDouble) {
    const auto& [field, expected] = GetParam();
    const auto value = decimal(field);
    ASSERT_TRUE(value.has_value()) << field;
    EXPECT_EQ(bits(*value), bits(expected)) << field << " gave " << *value;
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, AcceptedDecimal,
    testing::Values(Accepted{"12", 12.0}, Accepted{"12.", 12.0}, Accepted{".5", 0.5},
                    Accepted{"12.5", 12.5}, Accepted{"+4", 4.0}, Accepted{"4.", 4.0},
                    Accepted{"1e2", 100.0}, Accepted{"1.5e1", 15.0}, Accepted{"1e+003", 1000.0},
                    Accepted{"1.e5", 1e5}, Accepted{".5E-1", 0.05}, Accepted{"-00012", -12.0},
                    Accepted{"090", 90.0}, Accepted{"001000", 1000.0}, Accepted{"-1", -1.0},
                    Accepted{"0", 0.0}, Accepted{"-0", -0.0}, Accepted{"-.0", -0.0},
                    Accepted{"+0.0e9", 0.0}, Accepted{"15.50", 15.5}), test::CaseName{});

INSTANTIATE_TEST_SUITE_P(Words, AcceptedDecimal,
                         testing::Values(Accepted{"inf", kInf}, Accepted{"INF", kInf},
                                         Accepted{"iNf", kInf}, Accepted{"+inf", kInf},
                                         Accepted{"-inf", -kInf}, Accepted{"Infinity", kInf},
                                         Accepted{"-INFINITY", -kInf}), test::CaseName{});

// Decimal fractions that no double holds exactly must round to nearest.
INSTANTIATE_TEST_SUITE_P(
    Rounding, AcceptedDecimal,
    testing::Values(Accepted{"0.1", 0x1.999999999999ap-4}, Accepted{"34.25", 34.25},
                    Accepted{"15.51", 0x1.f051eb851eb85p+3},
                    Accepted{"59.99", 0x1.dfeb851eb851fp+5},
                    Accepted{"9007199254740993", 9007199254740992.0},  // tie: to even
                    Accepted{"9007199254740995", 9007199254740996.0},
                    Accepted{"2.2250738585072011e-308", 0x0.fffffffffffffp-1022}),
    test::CaseName{});

// Beyond the range of a double the value rounds as IEEE arithmetic does
// instead of being refused; the sign survives.
INSTANTIATE_TEST_SUITE_P(
    OutOfRange, AcceptedDecimal,
    testing::Values(Accepted{"1e309", kInf}, Accepted{"-1e400", -kInf},
                    Accepted{"1.7976931348623159e308", kInf},
                    Accepted{"1.7976931348623158e308", std::numeric_limits<double>::max()},
                    Accepted{"1e99999999999999999999", kInf}, Accepted{"0.000001e310", 1e304},
                    Accepted{"10000e-320", 1e-316}, Accepted{"10000e-330", 0.0},
                    Accepted{"1e-400", 0.0}, Accepted{"-1e-400", -0.0},
                    Accepted{"1e-99999999999999999999", 0.0}, Accepted{"100000e-400", 0.0},
                    Accepted{"0.0001e-320", 0.0}, Accepted{"1e-310", 1e-310},
                    Accepted{"4e-324", kMinSubnormal}, Accepted{"3e-324", kMinSubnormal},
                    Accepted{"2e-324", 0.0}, Accepted{"-2e-324", -0.0},
                    // Just above and just below half the smallest subnormal.
                    Accepted{"2.4703282292062328e-324", kMinSubnormal},
                    Accepted{"2.4703282292062327e-324", 0.0}), test::CaseName{});

TEST(ParseDecimal, NanIsQuietAndTakesTheSign) {
    for (const std::string_view field : {"nan", "NaN", "+nAn", "-nan", "-NAN"}) {
        const auto value = decimal(field);
        ASSERT_TRUE(value.has_value()) << field;
        EXPECT_TRUE(std::isnan(*value)) << field;
        EXPECT_EQ(std::signbit(*value), field.front() == '-') << field;
    }
}

TEST(ParseDecimal, RefusesEverythingOutsideTheGrammar) {
    for (const std::string_view field : {"",
                                         "+",
                                         "-",
                                         ".",
                                         "+.",
                                         "-.",
                                         "e5",
                                         ".e5",
                                         "1e",
                                         "1e+",
                                         "1E-",
                                         "1e5.5",
                                         "1.2.3",
                                         "++1",
                                         "+-1",
                                         "1-",
                                         "1+",
                                         " 1",
                                         "1 ",
                                         "1 2",
                                         "\t1",
                                         "0x1A",
                                         "0x1p3",
                                         "1_000",
                                         "1,5",
                                         "12 34",
                                         "nan(1)",
                                         "nan()",
                                         "infinit",
                                         "infinityy",
                                         "in",
                                         "-+inf",
                                         "inf.",
                                         "1d",
                                         "١٢",            // Arabic-Indic digits: not ASCII digits
                                         "\xEF\xBC\x91",  // full-width digit one
                                         "1\xFF",
                                         "\xC3\xA9"}) {
        EXPECT_FALSE(decimal(field).has_value()) << "accepted: " << field;
    }
    // Bytes after an embedded NUL still count.
    EXPECT_FALSE(decimal(std::string_view("12\0", 3)).has_value());
}

// Plain digit fields take an inline shortcut; every one must come out as the
// correctly rounding library conversion gives it, bit for bit.
TEST(ParseDecimal, ShortcutAgreesWithTheLibraryConversion) {
    std::mt19937 random(7);
    const auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    for (int round = 0; round < 20000; ++round) {
        std::string field;
        const int length = pick(2, 17);
        for (int i = 0; i < length; ++i) field += static_cast<char>('0' + pick(0, 9));
        if (pick(0, 3) != 0) field.insert(static_cast<std::size_t>(pick(0, length)), ".");
        double expected = 0.0;
        std::from_chars(field.data(), field.data() + field.size(), expected);
        const auto value = decimal(field);
        ASSERT_TRUE(value.has_value()) << field;
        ASSERT_EQ(bits(*value), bits(expected)) << field;
    }
}

}  // namespace
}  // namespace kav

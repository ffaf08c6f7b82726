// The shortest decimal of a double against the standard library's shortest
// round-trip text of it: the same digits and the same exponent, for random bit
// patterns and for the values where the arithmetic is most likely to slip
// (subnormals, powers of two and of ten and their neighbours, integers, the
// extremes).
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "shortest_decimal.hpp"

namespace kav {
namespace {

// The standard library's answer, from its shortest text in exponent notation
// ("1.2345e-07"): the digits without the point and trailing zeros, and the
// exponent of the last digit.
ShortestDecimal reference(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    const std::string written(text, result.ptr);
    const std::size_t e = written.find('e');
    std::uint64_t digits = 0;
    int count = 0;
    for (std::size_t i = 0; i < e; ++i) {
        if (written[i] == '.') continue;
        digits = digits * 10 + static_cast<std::uint64_t>(written[i] - '0');
        ++count;
    }
    int exponent = std::stoi(written.substr(e + 1)) - (count - 1);
    while (digits % 10 == 0) {
        digits /= 10;
        ++exponent;
    }
    return {digits, exponent};
}

::testing::AssertionResult same_as_reference(double value) {
    const ShortestDecimal wanted = reference(value);
    const ShortestDecimal got = shortest_decimal(value);
    if (got.digits == wanted.digits && got.exponent == wanted.exponent) {
        return ::testing::AssertionSuccess();
    }
    char bits[24];
    std::snprintf(bits, sizeof bits, "%016llx",
                  static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value)));
    return ::testing::AssertionFailure() << "bits " << bits << ": got " << got.digits << "e"
                                         << got.exponent << ", wanted " << wanted.digits << "e"
                                         << wanted.exponent;
}

double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

TEST(ShortestDecimal, RandomBitPatterns) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 10'000'000; ++i) {
        // Positive and finite: clear the sign, and skip the all-ones exponent.
        const std::uint64_t bits = random() >> 1;
        if ((bits >> 52) == 0x7FF || bits == 0) continue;
        ASSERT_TRUE(same_as_reference(from_bits(bits)));
    }
}

TEST(ShortestDecimal, RandomSubnormals) {
    std::mt19937_64 random(11);
    for (int i = 0; i < 1'000'000; ++i) {
        const std::uint64_t bits = random() & ((std::uint64_t{1} << 52) - 1);
        if (bits != 0) {
            ASSERT_TRUE(same_as_reference(from_bits(bits)));
        }
    }
}

// The few digits of the smallest subnormals, where the interval holds no more
// than one or two integers.
TEST(ShortestDecimal, SmallestSubnormals) {
    for (std::uint64_t bits = 1; bits <= 100'000; ++bits) {
        ASSERT_TRUE(same_as_reference(from_bits(bits)));
    }
}

// Each power of two (the gap below is half the gap above) and its neighbours.
TEST(ShortestDecimal, PowersOfTwoAndNeighbours) {
    for (std::uint64_t exponent = 1; exponent < 0x7FF; ++exponent) {
        const std::uint64_t bits = exponent << 52;
        for (const std::uint64_t near : {bits - 1, bits, bits + 1}) {
            ASSERT_TRUE(same_as_reference(from_bits(near)));
        }
    }
}

// The doubles nearest each power of ten, and the integers around every
// exactly held power of ten and below 2^53.
TEST(ShortestDecimal, PowersOfTenIntegersAndExtremes) {
    std::vector<double> values = {std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  9007199254740991.0, 9007199254740992.0, 1.0, 0.1, 0.3};
    for (int exponent = -323; exponent <= 308; ++exponent) {
        const std::string text = "1e" + std::to_string(exponent);
        const double power = std::strtod(text.c_str(), nullptr);
        values.insert(values.end(), {power, std::nextafter(power, 0.0),
                                     std::nextafter(power, std::numeric_limits<double>::infinity())});
    }
    for (std::uint64_t integer = 1; integer < 100'000; ++integer) {
        values.push_back(static_cast<double>(integer));
    }
    for (const double value : values) {
        if (value > 0) {
            ASSERT_TRUE(same_as_reference(value));
        }
    }
}

}  // namespace
}  // namespace kav

// The shortest round-trip digits come from shortest_decimal; only their layout
// follows Python's rules.
#include "float_repr.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "shortest_decimal.hpp"

namespace kav {
namespace {

// Python writes a value in fixed notation while the position of its decimal
// point, counted from the first digit, lies in (kLowestFixed, kHighestFixed].
constexpr int kLowestFixed = -4;
constexpr int kHighestFixed = 16;

// Integral doubles below this are exact and their shortest digits are the
// integer itself, so they skip the general path; beacon lines are full of them.
constexpr double kExactIntegers = 1e15;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* put_pair_before(char* end, std::uint32_t pair) noexcept {
    std::memcpy(end - 2, kDigitPairs + 2 * pair, 2);
    return end - 2;
}

// Writes the decimal digits of `value` so that they end at `end`; returns
// where they start. Eight digits at a time in 32-bit arithmetic, as four pairs
// computed independently of each other.
char* put_digits_before(char* end, std::uint64_t value) noexcept {
    constexpr std::uint32_t kEightDigits = 100'000'000;
    while (value >= kEightDigits) {
        const auto low = static_cast<std::uint32_t>(value % kEightDigits);
        value /= kEightDigits;
        const std::uint32_t high_four = low / 10'000;
        const std::uint32_t low_four = low % 10'000;
        put_pair_before(end, low_four % 100);
        put_pair_before(end - 2, low_four / 100);
        put_pair_before(end - 4, high_four % 100);
        end = put_pair_before(end - 6, high_four / 100);
    }
    auto rest = static_cast<std::uint32_t>(value);
    while (rest >= 100) {
        end = put_pair_before(end, rest % 100);
        rest /= 100;
    }
    if (rest >= 10) return put_pair_before(end, rest);
    *--end = static_cast<char>('0' + rest);
    return end;
}

char* copy(char* out, const char* from, std::size_t count) noexcept {
    std::memcpy(out, from, count);
    return out + count;
}

// The number of decimal digits of `value`, at least one: floor(log10) from the
// bit length (1233 / 4096 is just above log10(2)), which is off by at most one.
std::size_t decimal_length(std::uint64_t value) noexcept {
    static constexpr std::array<std::uint64_t, 20> kPowersOfTen = [] {
        std::array<std::uint64_t, 20> powers{};
        std::uint64_t power = 1;
        for (std::uint64_t& entry : powers) {
            entry = power;
            power *= 10;
        }
        return powers;
    }();
    const auto bits = static_cast<std::size_t>(64 - std::countl_zero(value | 1));
    const std::size_t guess = bits * 1233 >> 12;
    return guess + (value >= kPowersOfTen[guess] ? 1 : 0);
}

char* fill(char* out, char digit, std::size_t count) noexcept {
    std::memset(out, digit, count);
    return out + count;
}

}  // namespace

char* write_float_repr(char* out, double value) noexcept {
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers &&
        !(value == 0 && std::signbit(value))) {
        out = std::to_chars(out, out + kFloatReprMaxChars, static_cast<std::int64_t>(value)).ptr;
        return copy(out, ".0", 2);
    }
    if (std::signbit(value)) {
        *out++ = '-';
        value = -value;
    }
    if (value == 0) return copy(out, "0.0", 3);
    const ShortestDecimal decimal = shortest_decimal(value);
    const std::size_t count = decimal_length(decimal.digits);
    const int point = decimal.exponent + static_cast<int>(count);  // digits before the decimal point

    // The digits are written where they end up, or one place to the right of
    // it when a point goes after the first few of them, which then move left.
    if (point <= kLowestFixed || point > kHighestFixed) {
        char* digits_end = out + 1 + count;
        put_digits_before(digits_end, decimal.digits);
        out[0] = out[1];
        out[1] = '.';
        out = count > 1 ? digits_end : out + 1;
        const int exponent = point - 1;
        out = copy(out, exponent < 0 ? "e-" : "e+", 2);
        const auto magnitude = static_cast<std::uint32_t>(exponent < 0 ? -exponent : exponent);
        char text[4];
        char* start = put_digits_before(text + sizeof text, magnitude);
        if (magnitude < 10) *--start = '0';
        return copy(out, start, static_cast<std::size_t>(text + sizeof text - start));
    }
    if (point <= 0) {
        out = copy(out, "0.", 2);
        out = fill(out, '0', static_cast<std::size_t>(-point));
        out += count;
        put_digits_before(out, decimal.digits);
        return out;
    }
    const auto whole = static_cast<std::size_t>(point);
    if (whole >= count) {
        out += count;
        put_digits_before(out, decimal.digits);
        out = fill(out, '0', whole - count);
        return copy(out, ".0", 2);
    }
    char* digits_end = out + 1 + count;
    put_digits_before(digits_end, decimal.digits);
    for (std::size_t i = 0; i < whole; ++i) out[i] = out[i + 1];
    out[whole] = '.';
    return digits_end;
}

void append_float_repr(std::string& out, double value) {
    std::array<char, kFloatReprMaxChars> text;
    out.append(text.data(), write_float_repr(text.data(), value));
}

}  // namespace kav

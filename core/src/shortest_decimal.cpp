// A double is c * 2^q; every real within half a gap of it on either side (the
// rounding interval, its ends included when c is even) reads back as it. Scaled
// by 10^-k, with k chosen so that the interval is at least one and less than ten
// units wide, the interval holds an integer, and at most one multiple of ten:
// that multiple, when there is one, has the fewest digits; otherwise the
// integer nearest the scaled value does. The scaling multiplies by a 126-bit
// upper bound of 10^-k and rounds the product to odd, which keeps every
// comparison with an integer exact.
#include "shortest_decimal.hpp"

#include <bit>
#include <cstdint>

namespace kav {
namespace {

struct Pow10 {
    std::uint64_t high;
    std::uint64_t low;
};

#include "pow10_table_generated.inc"

__extension__ typedef unsigned __int128 UInt128;

constexpr int kFractionBits = 52;
constexpr std::uint64_t kHiddenBit = std::uint64_t{1} << kFractionBits;
// q of a normal double is its biased exponent minus this; subnormals have the least q.
constexpr int kExponentBias = 1075;
constexpr int kLeastBinaryExponent = -1074;

// floor(log10(2^q)), floor(log10(3/4 * 2^q)) and floor(log2(10^e)) over the
// exponents of doubles: tools/gen_pow10_table.py checks the constants.
constexpr int floor_log10_pow2(int q) noexcept {
    return static_cast<int>((static_cast<std::int64_t>(q) * 661'971'961'083) >> 41);
}
constexpr int floor_log10_three_quarters_pow2(int q) noexcept {
    return static_cast<int>((static_cast<std::int64_t>(q) * 661'971'961'083 - 274'743'187'321) >> 41);
}
constexpr int floor_log2_pow10(int e) noexcept {
    return static_cast<int>((static_cast<std::int64_t>(e) * 913'124'641'741) >> 38);
}

// power * scaled / 2^128 rounded to odd: its last bit set when the division
// leaves a remainder. The lowest 64 bits of the product are left out: they are
// below the error of the power's last unit, which would otherwise turn exact
// quotients into inexact ones.
std::uint64_t scale_to_odd(const Pow10& power, std::uint64_t scaled) noexcept {
    const auto low = static_cast<std::uint64_t>((static_cast<UInt128>(power.low) * scaled) >> 64);
    const UInt128 product = static_cast<UInt128>(power.high) * scaled + low;
    const bool inexact = static_cast<std::uint64_t>(product) != 0;
    return static_cast<std::uint64_t>(product >> 64) | static_cast<std::uint64_t>(inexact);
}

ShortestDecimal without_trailing_zeros(std::uint64_t digits, int exponent) noexcept {
    while (digits % 10 == 0) {
        digits /= 10;
        ++exponent;
    }
    return {digits, exponent};
}

}  // namespace

ShortestDecimal shortest_decimal(double value) noexcept {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t fraction = bits & (kHiddenBit - 1);
    const auto biased = static_cast<int>(bits >> kFractionBits);
    const std::uint64_t c = biased == 0 ? fraction : fraction | kHiddenBit;
    const int q = biased == 0 ? kLeastBinaryExponent : biased - kExponentBias;

    // The value and the ends of its interval, four times over, so that the
    // half and quarter gaps are whole numbers. Above a power of two the gap
    // below is half the gap above.
    const std::uint64_t excluded = c & 1;
    const std::uint64_t center = c << 2;
    const std::uint64_t upper = center + 2;
    const bool narrow_below = fraction == 0 && biased > 1;
    const std::uint64_t lower = narrow_below ? center - 1 : center - 2;
    const int k = narrow_below ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);

    const Pow10& power = kPow10Table[-k - kPow10TableMin];
    const int shift = q + floor_log2_pow10(-k) + 3;
    const std::uint64_t scaled = scale_to_odd(power, center << shift);
    const std::uint64_t scaled_lower = scale_to_odd(power, lower << shift) + excluded;
    const std::uint64_t scaled_upper = scale_to_odd(power, upper << shift) - excluded;

    const std::uint64_t below = scaled >> 2;
    if (below >= 10) {
        const std::uint64_t tens_below = below / 10 * 10;
        const std::uint64_t tens_above = tens_below + 10;
        const bool below_fits = scaled_lower <= tens_below << 2;
        const bool above_fits = tens_above << 2 <= scaled_upper;
        if (below_fits != above_fits) {
            return without_trailing_zeros(below_fits ? tens_below : tens_above, k);
        }
    }
    const std::uint64_t above = below + 1;
    const bool below_fits = scaled_lower <= below << 2;
    const bool above_fits = above << 2 <= scaled_upper;
    if (below_fits != above_fits) return without_trailing_zeros(below_fits ? below : above, k);
    // Both read back: the nearer, the even one on a tie.
    const std::uint64_t midpoint = (below + above) << 1;
    const bool take_below = scaled < midpoint || (scaled == midpoint && below % 2 == 0);
    return without_trailing_zeros(take_below ? below : above, k);
}

}  // namespace kav

// Conversion of a short fixed-width field (degrees, minutes, course, speed,
// altitude) to a double.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kav {

// The full grammar and conversion; parse_decimal below is what callers use.
bool parse_decimal_general(std::string_view field, double& value) noexcept;

// Accepts exactly: an optional sign, then either inf, infinity or nan in any
// case, or decimal digits with an optional point (at least one digit on one
// side of it) and an optional exponent (e or E, optional sign, digits).
// Nothing before or after, no blanks, ASCII digits only; any other byte,
// including every non-ASCII byte, fails. The result is the nearest double,
// ties to even; a value beyond the double range rounds to infinity or to zero
// as IEEE arithmetic does, keeping its sign. Locale-independent. On failure
// `value` is left alone. (An optional<double> result would be built in memory
// and read back wider than it was written, which stalls every field.)
//
// Seven fields of every line go through here, nearly all of them unsigned
// digits with at most one point, so that form is converted inline and
// exactly: at most 15 digits make an exact double, and dividing it by an
// exact power of ten rounds correctly. Everything else takes the general path.
[[gnu::always_inline]] inline bool parse_decimal(std::string_view field, double& value) noexcept {
    constexpr std::size_t kMaxDigits = 15;
    constexpr std::size_t kNoPoint = std::string_view::npos;
    static constexpr double kPowersOfTen[kMaxDigits + 1] = {
        1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    if (field.size() < 2 || field.size() > kMaxDigits) return parse_decimal_general(field, value);
    std::uint64_t mantissa = 0;
    std::size_t point_at = kNoPoint;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto digit = static_cast<unsigned char>(field[i] - '0');
        if (digit < 10) {
            mantissa = mantissa * 10 + digit;
        } else if (field[i] == '.' && point_at == kNoPoint) {
            point_at = i;
        } else {
            return parse_decimal_general(field, value);
        }
    }
    // A division costs more than the rest, and most fields are whole numbers.
    value = static_cast<double>(mantissa);
    if (point_at != kNoPoint) value /= kPowersOfTen[field.size() - point_at - 1];
    return true;
}

}  // namespace kav

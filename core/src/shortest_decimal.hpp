// The shortest decimal that reads back as a given double: the digits a
// round-trip text of the double needs, no more, and the closest to its exact
// value when several are as short (the even one on a tie).
#pragma once

#include <cstdint>

namespace kav {

// value == digits * 10^exponent, with no trailing zeros in `digits`.
struct ShortestDecimal {
    std::uint64_t digits;  // at most 17 decimal digits
    int exponent;
};

// The shortest decimal of a finite `value` above zero.
ShortestDecimal shortest_decimal(double value) noexcept;

}  // namespace kav

// Conversion of a short fixed-width field (degrees, minutes, course, speed,
// altitude) to a double.
#pragma once

#include <optional>
#include <string_view>

namespace kav {

// Accepts exactly: an optional sign, then either inf, infinity or nan in any
// case, or decimal digits with an optional point (at least one digit on one
// side of it) and an optional exponent (e or E, optional sign, digits).
// Nothing before or after, no blanks, ASCII digits only; any other byte,
// including every non-ASCII byte, fails. The result is the nearest double,
// ties to even; a value beyond the double range rounds to infinity or to zero
// as IEEE arithmetic does, keeping its sign. Locale-independent.
std::optional<double> parse_decimal(std::string_view field) noexcept;

}  // namespace kav

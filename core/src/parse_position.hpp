// The fixed-width start of the position block: time of day, latitude and
// longitude.
#pragma once

#include <string_view>

#include "aprs_types.hpp"
#include "parse_step.hpp"

namespace kav {

// Six bytes hhmmss, each group two ASCII digits or "+" and one digit, then a
// suffix byte of any value. Whole seconds of one day; no leap second.
Parsed<TimeOfDay> parse_timestamp(std::string_view rest) noexcept;

enum class CoordinateKind { Latitude, Longitude };

// Degrees (two bytes for latitude, three for longitude), five bytes of
// minutes, a hemisphere byte. "S" or "W" negates; every other hemisphere byte
// leaves the value positive. No range is enforced.
Parsed<double> parse_coordinate(std::string_view rest, CoordinateKind kind) noexcept;

}  // namespace kav

// Course, speed and altitude: numbers read exactly as written, no units
// converted and no range enforced.
#pragma once

#include <string_view>

#include "parse_step.hpp"

namespace kav {

Parsed<double> parse_ground_track(std::string_view rest) noexcept;  // three bytes
Parsed<double> parse_ground_speed(std::string_view rest) noexcept;  // three bytes
Parsed<double> parse_gps_altitude(std::string_view rest) noexcept;  // six bytes

}  // namespace kav

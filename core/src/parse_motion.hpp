// Course, speed and altitude: numbers read exactly as written, no units
// converted and no range enforced. One fixed-width reader serves all three:
// a short field and a malformed one fail alike, naming the field. Defined
// here to be inlined into the driver, which runs them on every line.
#pragma once

#include <string_view>

#include "aprs_types.hpp"
#include "parse_bytes.hpp"
#include "parse_decimal.hpp"
#include "parse_step.hpp"

namespace kav {

struct NumberField {
    std::size_t width;
    ParseErrorVariant variant;
    std::string_view message;
};

inline constexpr NumberField kGroundTrackField{3, ParseErrorVariant::InvalidGroundTrack,
                                               "invalid ground track"};
inline constexpr NumberField kGroundSpeedField{3, ParseErrorVariant::InvalidGroundSpeed,
                                               "invalid ground speed"};
inline constexpr NumberField kGPSAltitudeField{6, ParseErrorVariant::InvalidGPSAltitude,
                                               "invalid gps altitude"};

[[gnu::always_inline]] inline Parsed<double> parse_number_field(std::string_view rest,
                                                                const NumberField& field) noexcept {
    double value = 0.0;
    if (rest.size() >= field.width && parse_decimal(first_bytes(rest, field.width), value)) {
        return {value, bytes_after(rest, field.width)};
    }
    return FieldError{field.variant, rest, field.message};
}

[[gnu::always_inline]] inline Parsed<double> parse_ground_track(std::string_view rest) noexcept {
    return parse_number_field(rest, kGroundTrackField);
}
[[gnu::always_inline]] inline Parsed<double> parse_ground_speed(std::string_view rest) noexcept {
    return parse_number_field(rest, kGroundSpeedField);
}
[[gnu::always_inline]] inline Parsed<double> parse_gps_altitude(std::string_view rest) noexcept {
    return parse_number_field(rest, kGPSAltitudeField);
}

}  // namespace kav

// One fixed-width number reader behind the three motion fields: a short field
// and a malformed one fail alike, naming the field.
#include "parse_motion.hpp"

#include "parse_decimal.hpp"

namespace kav {
namespace {

struct NumberField {
    std::size_t width;
    ParseErrorVariant variant;
    std::string_view message;
};

Parsed<double> parse_number_field(std::string_view rest, const NumberField& field) noexcept {
    if (rest.size() >= field.width) {
        if (const auto value = parse_decimal(rest.substr(0, field.width))) {
            return {*value, rest.substr(field.width)};
        }
    }
    return FieldError{field.variant, rest, field.message};
}

}  // namespace

Parsed<double> parse_ground_track(std::string_view rest) noexcept {
    return parse_number_field(rest,
                              {3, ParseErrorVariant::InvalidGroundTrack, "invalid ground track"});
}

Parsed<double> parse_ground_speed(std::string_view rest) noexcept {
    return parse_number_field(rest,
                              {3, ParseErrorVariant::InvalidGroundSpeed, "invalid ground speed"});
}

Parsed<double> parse_gps_altitude(std::string_view rest) noexcept {
    return parse_number_field(rest,
                              {6, ParseErrorVariant::InvalidGPSAltitude, "invalid gps altitude"});
}

}  // namespace kav

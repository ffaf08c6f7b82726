// The fixed-width start of the position block: time of day, latitude and
// longitude. Every length is checked before any byte is read as a number, so
// a short line always gets a length message. Defined here to be inlined into
// the driver, which runs them on every line.
#pragma once

#include <cstdint>
#include <string_view>

#include "aprs_types.hpp"
#include "parse_bytes.hpp"
#include "parse_decimal.hpp"
#include "parse_step.hpp"
#include "utf8.hpp"

namespace kav {

namespace time_field {

inline constexpr std::size_t kLength = 6;

// Two ASCII digits, or "+" and one digit ("+7" is 7); -1 for anything else.
constexpr int read_group(char first, char second) noexcept {
    if (!is_ascii_digit(second)) return -1;
    if (first == '+') return second - '0';
    if (!is_ascii_digit(first)) return -1;
    return (first - '0') * 10 + (second - '0');
}

}  // namespace time_field

// Six bytes hhmmss, each group two ASCII digits or "+" and one digit, then a
// suffix byte of any value. Whole seconds of one day; no leap second.
[[gnu::always_inline]] inline Parsed<TimeOfDay> parse_timestamp(std::string_view rest) noexcept {
    using time_field::kLength;
    using time_field::read_group;
    const auto fail = [rest](std::string_view message) {
        return FieldError{ParseErrorVariant::InvalidTimestamp, rest, message};
    };
    if (rest.size() < kLength) return fail(kEofMessage);
    if (rest.size() == kLength) {
        return FieldError{ParseErrorVariant::InvalidTimestamp, bytes_after(rest, kLength),
                          kEofMessage};
    }
    const std::string_view digits = first_bytes(rest, kLength);
    if (!is_ascii(digits)) {
        if (!is_valid_utf8(digits)) return fail("invalid utf8");
        // A character that straddles two groups belongs to neither of them.
        if (is_continuation_byte(digits[2]) || is_continuation_byte(digits[4])) {
            return fail("character split across time groups");
        }
    }
    const int hour = read_group(digits[0], digits[1]);
    if (hour < 0) return fail("invalid hour digits");
    const int minute = read_group(digits[2], digits[3]);
    if (minute < 0) return fail("invalid minute digits");
    const int second = read_group(digits[4], digits[5]);
    if (second < 0) return fail("invalid second digits");
    if (hour > 23 || minute > 59 || second > 59) return fail("invalid time");
    const auto seconds_of_day = static_cast<std::uint32_t>((hour * 60 + minute) * 60 + second);
    // The byte after the digits (normally "h") is skipped unexamined.
    return {TimeOfDay{seconds_of_day, 0}, bytes_after(rest, kLength + 1)};
}

enum class CoordinateKind { Latitude, Longitude };

// Degrees (two bytes for latitude, three for longitude), five bytes of
// minutes, a hemisphere byte. "S" or "W" negates; every other hemisphere byte
// leaves the value positive. No range is enforced.
[[gnu::always_inline]] inline Parsed<double> parse_coordinate(std::string_view rest,
                                                              CoordinateKind kind) noexcept {
    constexpr std::size_t kMinuteLength = 5;
    const bool latitude = kind == CoordinateKind::Latitude;
    const std::size_t degree_length = latitude ? 2 : 3;
    const char negating_hemisphere = latitude ? 'S' : 'W';
    const auto fail = [rest, latitude](std::string_view message) {
        return FieldError{
            latitude ? ParseErrorVariant::InvalidLatitude : ParseErrorVariant::InvalidLongitude,
            rest, message};
    };

    if (rest.size() < degree_length) return fail("invalid number of digits for degrees");
    if (rest.size() < degree_length + kMinuteLength) {
        return fail("invalid number of digits for minutes");
    }
    const std::size_t hemisphere_at = degree_length + kMinuteLength;
    if (rest.size() <= hemisphere_at) return fail("no suffix for coordinate found");

    double degrees = 0.0;
    if (!parse_decimal(first_bytes(rest, degree_length), degrees)) {
        return fail("could not parse degrees");
    }
    double minutes = 0.0;
    if (!parse_decimal(first_bytes(bytes_after(rest, degree_length), kMinuteLength), minutes)) {
        return fail("could not parse minutes");
    }

    const double value = degrees + minutes / 60.0;
    // Negation flips the sign bit only, so a zero coordinate in the south or
    // west reads as -0.0.
    const bool negate = rest[hemisphere_at] == negating_hemisphere;
    return {negate ? -value : value, bytes_after(rest, hemisphere_at + 1)};
}

}  // namespace kav

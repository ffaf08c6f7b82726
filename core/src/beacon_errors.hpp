// What a line that fails to parse reports: its kind, one of a fixed set that
// a table can count and group by, and its message, the text users read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "aprs_types.hpp"

namespace kav {

// Every ParseErrorVariant is a kind under its own code; a line without an `id`
// token is one more, after them.
inline constexpr std::uint8_t kMissingIdKind =
    static_cast<std::uint8_t>(ParseErrorVariant::InvalidKAVBeaconId) + 1;
inline constexpr std::size_t kBeaconErrorKindCount = kMissingIdKind + 1;

constexpr std::uint8_t error_kind_of(const BeaconParseError& error) noexcept {
    const auto* kind = std::get_if<ParseErrorKind>(&error.value);
    return kind != nullptr ? static_cast<std::uint8_t>(kind->variant) : kMissingIdKind;
}

// The name that opens the kind's rendering: "InvalidTimestamp", ...,
// "MissingKAVBeaconID". `kind` is below kBeaconErrorKindCount.
std::string_view error_kind_name(std::uint8_t kind) noexcept;

// The message a failed parse is reported with: "Parse error: " and the
// rendering of the error, appended to `out`.
void append_error_message(std::string& out, const BeaconParseError& error);

}  // namespace kav

// What a line that fails reports: its kind, one of a fixed set that a table
// can count and group by, and its message, the text users read. A line fails
// when it does not parse, or when it is longer than a stream's line limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "aprs_types.hpp"

namespace kav {

// Every ParseErrorVariant is a kind under its own code; a line without an `id`
// token is one more, after them, and a line over a stream's limit the last.
inline constexpr std::uint8_t kMissingIdKind =
    static_cast<std::uint8_t>(ParseErrorVariant::InvalidKAVBeaconId) + 1;
inline constexpr std::uint8_t kLineTooLongKind = kMissingIdKind + 1;
inline constexpr std::size_t kBeaconErrorKindCount = kLineTooLongKind + 1;

constexpr std::uint8_t error_kind_of(const BeaconParseError& error) noexcept {
    const auto* kind = std::get_if<ParseErrorKind>(&error.value);
    return kind != nullptr ? static_cast<std::uint8_t>(kind->variant) : kMissingIdKind;
}

// The name that opens the kind's rendering: "InvalidTimestamp", ...,
// "MissingKAVBeaconID", "LineTooLong". `kind` is below kBeaconErrorKindCount.
std::string_view error_kind_name(std::uint8_t kind) noexcept;

// The message a failed parse is reported with: "Parse error: " and the
// rendering of the error, appended to `out`.
void append_error_message(std::string& out, const BeaconParseError& error);

// Why one line failed, rendered into its message when its row is written.
class LineFailure {
  public:
    static LineFailure parse(const BeaconParseError& error) noexcept {
        return LineFailure(error_kind_of(error), &error, 0, 0);
    }
    // A line of `length` bytes over a limit of `limit`: its row keeps only the
    // first `limit` bytes.
    static LineFailure too_long(std::uint64_t length, std::size_t limit) noexcept {
        return LineFailure(kLineTooLongKind, nullptr, length, limit);
    }

    std::uint8_t kind() const noexcept { return kind_; }
    // "Parse error: ..." or "LineTooLong: a line of 5000 bytes, cut at 4096".
    void append_to(std::string& out) const;

  private:
    LineFailure(std::uint8_t kind, const BeaconParseError* error, std::uint64_t length,
                std::size_t limit) noexcept
        : kind_(kind), error_(error), length_(length), limit_(limit) {}

    std::uint8_t kind_;
    const BeaconParseError* error_;  // null for a line too long
    std::uint64_t length_;
    std::size_t limit_;
};

}  // namespace kav

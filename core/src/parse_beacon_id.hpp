// The `id` extension token: "id", two hex characters of ID prefix byte, six
// of aircraft address, then anything.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "aprs_types.hpp"

namespace kav {

namespace beacon_id_token {

inline constexpr std::string_view kTag = "id";
inline constexpr std::size_t kBodyLength = KAVBeaconID::kTextLength;

}  // namespace beacon_id_token

// The token as nearly every line writes it: "id" and eight hex digits, the
// prefix byte and the address in one 32-bit number, decoded without a branch
// per digit and without building a result that could hold an error. Nothing
// for any other token, valid or not, which parse_beacon_id_token then reads.
[[gnu::always_inline]] inline std::optional<std::uint32_t> read_plain_beacon_id(
    std::string_view token) noexcept {
    using namespace beacon_id_token;
    if (token.size() < kTag.size() + kBodyLength) return std::nullopt;
    std::uint32_t digits = 0;
    std::uint8_t not_hex = 0;
    for (std::size_t i = kTag.size(); i < kTag.size() + kBodyLength; ++i) {
        const std::uint8_t value = kHexDigitValues[static_cast<unsigned char>(token[i])];
        not_hex |= value;
        digits = (digits << 4) | (value & 0x0Fu);
    }
    if ((not_hex & 0x80) != 0) return std::nullopt;
    return digits;
}

// The identifier of a plain token's eight digits.
[[gnu::always_inline]] inline KAVBeaconID beacon_id_of_packed(std::uint32_t digits) noexcept {
    constexpr unsigned kAddressBits = 24;
    return KAVBeaconID{KAVIDPrefix::from_byte(static_cast<std::uint8_t>(digits >> kAddressBits)),
                       ICAOAddress::new_(digits & ICAOAddress::kLimit).value()};
}

// Reads one token that starts with "id" (bytes after the eight body
// characters are ignored). The error is built here and not left to the
// driver because its text ends in the body's own description.
Result<KAVBeaconID, ParseErrorKind> parse_beacon_id_token(std::string_view token);

}  // namespace kav

// Display texts of the identifier errors; users see them inside parse errors
// and in the ValueError of the address constructor.
#include <charconv>
#include <type_traits>

#include "aprs_types.hpp"

namespace kav {
namespace {

constexpr std::string_view kInvalidHexFormat = "Invalid hexadecimal format";

void append_number(std::string& out, std::uint32_t value, int base) {
    char digits[16];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value, base);
    for (const char* p = digits; p != end; ++p) {
        const char c = *p;
        out.push_back(c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c);
    }
}

}  // namespace

std::string ICAOAddressError::message() const {
    if (kind == Kind::InvalidHexFormat) return std::string(kInvalidHexFormat);
    std::string text = "Value 0x";
    append_number(text, value, 16);
    text += " (";
    append_number(text, value, 10);
    text += ") exceeds 24-bit ICAO address limit (0x";
    append_number(text, ICAOAddress::kLimit, 16);
    text += ")";
    return text;
}

std::string KAVIDPrefixError::message() const {
    return std::string(kInvalidHexFormat);
}

std::string KAVBeaconIDError::message() const {
    return std::visit(
        [](const auto& payload) -> std::string {
            if constexpr (std::is_same_v<std::decay_t<decltype(payload)>, InvalidFormat>) {
                return "Invalid beacon format: " + payload.candidate;
            } else {
                return payload.message();
            }
        },
        cause);
}

}  // namespace kav

// The hexadecimal rule shared by the ICAO address and the ID prefix byte.
#include <limits>

#include "aprs_types.hpp"

namespace kav {
namespace {

// Leading zeros are harmless; only a value too large for T breaks the rule,
// so "0000001" is a valid prefix byte. `out` is left alone on failure.
template <class T>
bool parse_hex(std::string_view text, T& out) noexcept {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return false;
    constexpr T kLargestBeforeShift = std::numeric_limits<T>::max() >> 4;
    T value = 0;
    for (const char c : text) {
        const std::uint8_t digit = kHexDigitValues[static_cast<unsigned char>(c)];
        if (digit >= 16 || value > kLargestBeforeShift) return false;
        value = static_cast<T>((value << 4) | static_cast<T>(digit));
    }
    out = value;
    return true;
}

}  // namespace

bool parse_hex_u32(std::string_view text, std::uint32_t& out) noexcept {
    return parse_hex(text, out);
}

bool parse_hex_u8(std::string_view text, std::uint8_t& out) noexcept {
    return parse_hex(text, out);
}

}  // namespace kav

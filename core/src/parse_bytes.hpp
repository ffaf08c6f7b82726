// Byte classes of the line format. The line is bytes, not text: a digit is
// one of the ASCII bytes 0 to 9 and nothing else, whatever the locale.
#pragma once

namespace kav {

constexpr bool is_ascii_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// The bytes that continue a multi-byte UTF-8 sequence; a field border at one
// of them cuts a character in two.
constexpr bool is_continuation_byte(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace kav

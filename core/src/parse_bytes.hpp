// Byte-level helpers of the line format. The line is bytes, not text: a digit
// is one of the ASCII bytes 0 to 9 and nothing else, whatever the locale.
#pragma once

#include <cstddef>
#include <string_view>

namespace kav {

constexpr bool is_ascii_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// The bytes that continue a multi-byte UTF-8 sequence; a field border at one
// of them cuts a character in two.
constexpr bool is_continuation_byte(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// ASCII is valid UTF-8 on its own: fields that are pure ASCII, as nearly all
// are, skip decoding.
constexpr bool is_ascii(std::string_view bytes) noexcept {
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// A prefix, or what follows it, without the bounds check and throw path of
// substr: every caller has checked the length already.
constexpr std::string_view first_bytes(std::string_view bytes, std::size_t count) noexcept {
    return {bytes.data(), count};
}
constexpr std::string_view bytes_after(std::string_view bytes, std::size_t count) noexcept {
    return {bytes.data() + count, bytes.size() - count};
}

}  // namespace kav

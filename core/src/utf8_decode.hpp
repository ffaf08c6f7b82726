// The single-step decoder behind the UTF-8 functions, exposed for callers that
// need to know whether a step was well-formed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kav {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;
inline constexpr std::string_view kReplacementCharacterUtf8 = "\xEF\xBF\xBD";

struct DecodedCodePoint {
    char32_t code_point;  // U+FFFD when ill-formed
    std::uint8_t length;  // bytes consumed: the sequence, or the maximal ill-formed subpart
    bool well_formed;
};

// Decodes the sequence starting at bytes[pos]. Precondition: pos < bytes.size().
// Never reads past the end of `bytes`.
DecodedCodePoint decode_at(std::string_view bytes, std::size_t pos) noexcept;

}  // namespace kav

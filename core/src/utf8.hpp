// UTF-8 handling of the core: strict validation of header fields and number
// fields, and lossy decoding of bytes placed into error contexts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kav {

// Strict UTF-8: no overlong forms, no surrogates (U+D800..U+DFFF), nothing
// above U+10FFFF, no truncated sequences.
bool is_valid_utf8(std::string_view bytes) noexcept;

// Well-formed sequences are copied; each maximal ill-formed subpart becomes
// one U+FFFD (the Unicode Standard's recommended substitution).
std::string lossy_utf8(std::string_view bytes);

// Decodes one code point of valid UTF-8 starting at text[pos] and advances
// pos past it. Precondition: text is valid UTF-8 and pos < text.size().
char32_t decode_next(std::string_view text, std::size_t& pos) noexcept;

}  // namespace kav

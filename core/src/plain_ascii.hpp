// Copying runs of plain ASCII, the bytes a quoted text keeps unchanged.
#pragma once

#include <cstddef>
#include <string_view>

namespace kav {

// Printable ASCII other than the two quoted-string metacharacters stands for
// itself inside double quotes.
constexpr bool is_plain_ascii(char byte) noexcept {
    return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

// Copies the run of plain ASCII at the start of `text` to `dest` and returns
// its length. Bytes after the run may be copied too, so `dest` needs room for
// all of `text`. Error contexts are mostly such bytes (the rest of a line),
// so they are checked and copied many bytes a step rather than one code point
// at a time.
std::size_t copy_plain_ascii(char* dest, std::string_view text) noexcept;

}  // namespace kav

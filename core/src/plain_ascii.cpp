// Plain-ASCII runs, sixteen bytes a step where the processor has SSE2 (every
// x86-64 does), eight bytes a step in portable code elsewhere and for texts
// shorter than sixteen bytes.
#include "plain_ascii.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kav {
namespace {

#if defined(__SSE2__)
constexpr std::size_t kBlock = 16;

// Stores the sixteen bytes at `from` to `to`; bit i of the result is set
// when byte i is not plain ASCII.
unsigned copy_block(char* to, const char* from) noexcept {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
    // Moving 0x20..0x7E to -128..-34 leaves one signed comparison for the
    // range: every other byte, 0x80..0xFF included, lands from -33 up.
    const __m128i shifted = _mm_add_epi8(block, _mm_set1_epi8(0x60));
    const __m128i in_range = _mm_cmplt_epi8(shifted, _mm_set1_epi8(-33));
    const __m128i metacharacter = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8('"')),
                                               _mm_cmpeq_epi8(block, _mm_set1_epi8('\\')));
    const auto plain =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(metacharacter, in_range)));
    return plain ^ 0xFFFFu;
}
#endif

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

// Whether any of the eight bytes of `word` is not plain ASCII. Each term sets
// the high bit of a byte that fails one condition; a borrow or carry between
// bytes can only start at a byte that already failed, so "any" is exact.
constexpr bool has_non_plain_byte(std::uint64_t word) noexcept {
    const auto zero_bytes = [](std::uint64_t w) { return (w - kEveryByte) & ~w; };
    const std::uint64_t at_or_above_0x80 = word;
    const std::uint64_t below_space = (word - kEveryByte * 0x20) & ~word;
    const std::uint64_t is_delete = word + kEveryByte;  // 0x7F + 1 = 0x80
    const std::uint64_t is_quote = zero_bytes(word ^ (kEveryByte * '"'));
    const std::uint64_t is_backslash = zero_bytes(word ^ (kEveryByte * '\\'));
    return ((at_or_above_0x80 | below_space | is_delete | is_quote | is_backslash) & kHighBits) !=
           0;
}

}  // namespace

std::size_t copy_plain_ascii(char* dest, std::string_view text) noexcept {
    const char* bytes = text.data();
    const std::size_t size = text.size();
#if defined(__SSE2__)
    if (size >= kBlock) {
        for (std::size_t pos = 0;; pos += kBlock) {
            // The last block ends where the text does; the bytes it shares
            // with the block before are plain and copied again unchanged.
            pos = std::min(pos, size - kBlock);
            if (const unsigned non_plain = copy_block(dest + pos, bytes + pos); non_plain != 0) {
                return pos + static_cast<std::size_t>(std::countr_zero(non_plain));
            }
            if (pos + kBlock == size) return size;
        }
    }
#endif
    std::size_t pos = 0;
    for (; size - pos >= sizeof(std::uint64_t); pos += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, bytes + pos, sizeof word);
        if (has_non_plain_byte(word)) break;
        std::memcpy(dest + pos, &word, sizeof word);
    }
    for (; pos < size && is_plain_ascii(bytes[pos]); ++pos) dest[pos] = bytes[pos];
    return pos;
}

}  // namespace kav

// A second, deliberately independent strict UTF-8 check for the fuzz target.
//
// The parser validates with its own routine; checking its output with that same
// routine would prove nothing. This one follows the table of well-formed byte
// sequences in the Unicode Standard row by row instead of decoding code points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kav::fuzz {

struct Utf8Row {
    std::uint8_t lead_lo, lead_hi;      // range of the first byte
    std::uint8_t second_lo, second_hi;  // range of the second byte
    std::size_t length;                 // bytes in the sequence; the rest are 80..BF
};

// Rows of the Unicode Standard's table of well-formed UTF-8 byte sequences.
inline constexpr Utf8Row kUtf8Rows[] = {
    {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3}, {0xE1, 0xEC, 0x80, 0xBF, 3},
    {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3}, {0xF0, 0xF0, 0x90, 0xBF, 4},
    {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
};

constexpr bool in_range(std::uint8_t b, std::uint8_t lo, std::uint8_t hi) noexcept {
    return lo <= b && b <= hi;
}

// The row whose lead-byte range holds `lead`; a row of length 0 if none does.
constexpr Utf8Row row_for(std::uint8_t lead) noexcept {
    for (const Utf8Row& r : kUtf8Rows) {
        if (in_range(lead, r.lead_lo, r.lead_hi)) return r;
    }
    return {0, 0, 0, 0, 0};
}

constexpr bool well_formed_utf8(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const Utf8Row row = row_for(lead);
        if (row.length == 0 || text.size() - i < row.length) return false;
        const auto second = static_cast<std::uint8_t>(text[i + 1]);
        if (!in_range(second, row.second_lo, row.second_hi)) return false;
        for (std::size_t k = 2; k < row.length; ++k) {
            if (!in_range(static_cast<std::uint8_t>(text[i + k]), 0x80, 0xBF)) return false;
        }
        i += row.length;
    }
    return true;
}

}  // namespace kav::fuzz
